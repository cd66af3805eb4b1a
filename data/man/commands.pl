#!/usr/bin/perl
# Writes a help2man include file with a COMMANDS section: for every subcommand that
# "PROGRAM --help" lists, the text of "PROGRAM COMMAND --help" in man-page form. The man page
# is so generated from the program itself and cannot fall behind its options.
#
# usage: commands.pl PROGRAM OUT.h2m
use strict;
use warnings;

# The width of the option column in the help of a command.
my $kColumn = 30;

my ($program, $out) = @ARGV;
die "usage: $0 PROGRAM OUT.h2m\n" unless defined $out;

sub help_of {
    my @cmd = @_;
    open(my $fh, '-|', @cmd, '--help') or die "cannot run @cmd: $!\n";
    local $/;
    my $text = <$fh>;
    close($fh) or die "@cmd --help failed\n";
    return $text;
}

# Text for roff: a backslash is printed with \e, and a line may not start with a control
# character.
sub roff {
    my ($s) = @_;
    $s =~ s/\\/\\e/g;
    $s =~ s/-/\\-/g;
    $s =~ s/^([.'])/\\&$1/;
    return $s;
}

my @commands;
my $in_list = 0;
for (split /\n/, help_of($program)) {
    if (/^Subcommands:/) { $in_list = 1; next; }
    last if $in_list && /^\S/;
    push @commands, $1 if $in_list && /^  ([a-z][-a-z0-9]*)\s/;
}
die "no subcommands found in $program --help\n" unless @commands;

open(my $to, ">", "$out.tmp") or die "cannot write $out.tmp: $!\n";
select $to;
print "[COMMANDS]\n";
for my $command (@commands) {
    print ".SS \"$command\"\n";
    my $section = '';
    for my $line (split /\n/, help_of($program, $command)) {
        if ($line =~ /^Usage: (.*)/) {
            print ".PP\n.B ", roff($1), "\n";
        } elsif ($line =~ /^(Positionals|Options):$/) {
            $section = $1;
        } elsif ($line =~ /^$/) {
            $section = '' if $section ne '';
        } elsif ($section ne '' && $line =~ /^  \S/) {
            # "  --option ARG" in the first $kColumn columns, the description after them; an
            # option too long for its column puts its description on the next line.
            my ($name, $text) = ($line, '');
            if (length($line) > $kColumn && substr($line, $kColumn - 1, 1) eq ' ') {
                ($name, $text) = (substr($line, 0, $kColumn), substr($line, $kColumn));
            }
            $name =~ s/^\s+|\s+$//g;
            next if $name eq '-h,--help';
            print ".TP\n.B ", roff($name), "\n";
            print roff($text), "\n" if $text ne '';
        } elsif ($section ne '' && $line =~ /^\s+(\S.*)$/) {
            print roff($1), "\n";
        } else {
            print ".PP\n", roff($line), "\n";
        }
    }
}
close($to) or die "cannot write $out.tmp: $!\n";
rename("$out.tmp", $out) or die "cannot write $out: $!\n";
