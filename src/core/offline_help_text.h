// The help of the offline board's page: three pages, each with its title. A page is shown as
// its Chinese half, a blank line and its English half; the translation table gives each half
// alone. The halves are string literals so that the page and its table entry are one text.
#pragma once

// The texts keep one sentence or one table row to a line.
// clang-format off

#define QMX_OFFLINE_HELP_1_ZH \
    "脱机下载分两步: 先用本软件把用户程序、单片机型号、下载选项、自动增量参数和下载数限量" \
    "存入脱机下载板; 以后脱机下载板不需要计算机, 自己把程序下载到一片又一片单片机中。\r\n\r\n" \
    "下载数限量可设为 1 到 1000000: 脱机下载板每成功下载一片就减 1, 减到 0 后不再下载。"

#define QMX_OFFLINE_HELP_1_EN \
    "Offline download works in two steps: this program first stores the application, the " \
    "chip model, the download options, the serial-number parameters and the count limit in " \
    "the board; afterwards the board programs chip after chip on its own, without a " \
    "computer.\r\n\r\n" \
    "The count limit is 1 to 1000000: the board counts down by one for every chip it " \
    "programs and refuses to go on at 0."

#define QMX_OFFLINE_HELP_2_ZH \
    "存入程序时: 把脱机下载板的跳线设到与计算机通讯的位置, 用串口线连接计算机, 选好串口和" \
    "单片机型号, 按 \"下载用户应用程序\"; 待软件提示 \"请给脱机下载板上电\" 后才给脱机下载板" \
    "上电。\r\n\r\n" \
    "给单片机下载时: 把跳线设到与单片机通讯的位置, 接好目标板并按目标板的需要供电, 脱机下载板" \
    "便自行下载, 各 LED 显示其状态 (见第三页)。"

#define QMX_OFFLINE_HELP_2_EN \
    "To load the board: set its jumper for the computer, connect it to the serial port, " \
    "choose the port and the chip model, press the download button of this page, and switch " \
    "the board on only when the prompt asks for it.\r\n\r\n" \
    "To program chips: set the jumper for the chip, connect and power the target as it " \
    "needs; the board then programs on its own and shows its state on the LEDs (page 3)."

// The LED table has its two key lines first, then the rows in one language.
#define QMX_OFFLINE_HELP_3_ZH_KEY "LED 从左到右编号 1-7;  B = 闪烁, S = 长亮, . = 灭"
#define QMX_OFFLINE_HELP_3_EN_KEY "LEDs numbered 1-7 from the left; B blinking, S steady on, . off"

#define QMX_OFFLINE_HELP_3_ZH_ROWS \
    "正在连接                          B . . . . . B   LED 闪烁,\r\n" \
    "收到从 MCU 第一帧回应后           B . . . . B .   LED 闪烁\r\n" \
    "试测新波特率                      . B . . B . .   LED 闪烁\r\n" \
    "用新的波特率通讯成功,正在擦除AP区 . . B B . . .   LED 闪烁\r\n" \
    "下载成功                          B S S S S S B   中间5个灯长亮，两端的灯闪烁\r\n" \
    "下载中                            7 个灯作进度条  闪烁, 每个灯代表 8K 程序\r\n" \
    "禁止下载                          S S S S S S S   7个灯长亮,下载限量已减为0\r\n" \
    "自检错                            . . . . . . S   长亮不闪烁\r\n" \
    "连接失败                          . . . . . S .   长亮不闪烁\r\n" \
    "删除 AP 区失败                    . . . . S . .   长亮不闪烁\r\n" \
    "下载失败                          . . . S . . .   长亮不闪烁\r\n" \
    "下载选项失败                      . . S . . . .   长亮不闪烁\r\n" \
    "版本号过低(支持2.0以上版本)       . S . . . . .   长亮不闪烁\r\n" \
    "单片机型号不符                    S . . . . . .   长亮不闪烁"

#define QMX_OFFLINE_HELP_3_EN_ROWS \
    "Connecting                               B . . . . . B   blinking\r\n" \
    "First answer from the MCU received       B . . . . B .   blinking\r\n" \
    "Trying the new baud rate                 . B . . B . .   blinking\r\n" \
    "New baud rate works, erasing the AP area . . B B . . .   blinking\r\n" \
    "Download OK                              B S S S S S B   middle five steady, ends blink\r\n" \
    "Downloading                              7 LEDs show the progress, blinking; 8K each\r\n" \
    "Download refused                         S S S S S S S   all steady: the count limit is 0\r\n" \
    "Self-test error                          . . . . . . S   steady\r\n" \
    "Connection failed                        . . . . . S .   steady\r\n" \
    "Erasing the AP area failed               . . . . S . .   steady\r\n" \
    "Download failed                          . . . S . . .   steady\r\n" \
    "Writing the options failed               . . S . . . .   steady\r\n" \
    "Firmware too old (2.0 or newer needed)   . S . . . . .   steady\r\n" \
    "Wrong chip model                         S . . . . . .   steady"

#define QMX_OFFLINE_HELP_1 QMX_OFFLINE_HELP_1_ZH "\r\n\r\n" QMX_OFFLINE_HELP_1_EN
#define QMX_OFFLINE_HELP_2 QMX_OFFLINE_HELP_2_ZH "\r\n\r\n" QMX_OFFLINE_HELP_2_EN
#define QMX_OFFLINE_HELP_3 \
    QMX_OFFLINE_HELP_3_ZH_KEY "\r\n" QMX_OFFLINE_HELP_3_EN_KEY "\r\n\r\n" QMX_OFFLINE_HELP_3_ZH_ROWS
#define QMX_OFFLINE_HELP_3_ZH QMX_OFFLINE_HELP_3_ZH_KEY "\r\n\r\n" QMX_OFFLINE_HELP_3_ZH_ROWS
#define QMX_OFFLINE_HELP_3_EN QMX_OFFLINE_HELP_3_EN_KEY "\r\n\r\n" QMX_OFFLINE_HELP_3_EN_ROWS

#define QMX_OFFLINE_HELP_TITLE_1 "脱机下载板下载帮助, 第一页，共三页"
#define QMX_OFFLINE_HELP_TITLE_2 "脱机下载板下载帮助, 第二页，共三页"
#define QMX_OFFLINE_HELP_TITLE_3 "脱机下载板下载帮助-发光二极管显示, 第三页，共三页"

// clang-format on
