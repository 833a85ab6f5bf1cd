#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes KeyCodeTable.inc, the rows {Carbon virtual key code, Linux evdev key code}.

Run by hand when the rows need regenerating:
    src/core/shortcuts/generate-key-code-table.py > src/core/shortcuts/KeyCodeTable.inc

The rows are joined by XKB key name from two files of Debian's xkb-data. The "old" section of
keycodes/macintosh gives each key its Apple Desktop Bus code + 8, and the ADB codes are the Carbon
virtual key codes; keycodes/evdev gives the evdev code + 8. Where the ADB code differs from Carbon's
code for the same key (arrows, modifiers) or the old table has no such key, rows come from
linux/input-event-codes.h by KEY_ name instead, each with its reason.
"""
import re
import sys

MACINTOSH = "/usr/share/X11/xkb/keycodes/macintosh"
EVDEV = "/usr/share/X11/xkb/keycodes/evdev"
INPUT_EVENT_CODES = "/usr/include/linux/input-event-codes.h"

# Key names of the old table whose ADB code is not the Carbon code of that key on a Linux keyboard.
NOT_JOINED = {
    "LCTL": "ADB 0x36 is Carbon's right command; the modifiers are mapped below",
    "LALT": "ADB 0x37 is Carbon's command; the modifiers are mapped below",
    "RALT": "ADB 0x3A is Carbon's option; the modifiers are mapped below",
    "UP": "ADB arrow codes are Carbon's minus 64",
    "DOWN": "ADB arrow codes are Carbon's minus 64",
    "LEFT": "ADB arrow codes are Carbon's minus 64",
    "RGHT": "ADB arrow codes are Carbon's minus 64",
    "PRSC": "sits where F13 is on a Mac keyboard; F13 means the F13 key",
    "SCLK": "sits where F14 is on a Mac keyboard; F14 means the F14 key",
    "PAUS": "sits where F15 is on a Mac keyboard; F15 means the F15 key",
}

# (Carbon code, Carbon name, KEY_ name, reason) for the keys that the join does not give.
SUPPLEMENT = [
    (54, "kVK_RightCommand", "KEY_RIGHTCTRL", "Command is Ctrl on Linux"),
    (55, "kVK_Command", "KEY_LEFTCTRL", "Command is Ctrl on Linux"),
    (58, "kVK_Option", "KEY_LEFTALT", "Option is Alt on Linux"),
    (59, "kVK_Control", "KEY_LEFTMETA", "Control is Super on Linux"),
    (60, "kVK_RightShift", "KEY_RIGHTSHIFT", "not in the old table"),
    (61, "kVK_RightOption", "KEY_RIGHTALT", "Option is Alt on Linux"),
    (62, "kVK_RightControl", "KEY_RIGHTMETA", "Control is Super on Linux"),
    (63, "kVK_Function", "KEY_FN", "not in the old table; beyond the X11 key code range"),
    (64, "kVK_F17", "KEY_F17", "not in the old table"),
    (72, "kVK_VolumeUp", "KEY_VOLUMEUP", "not in the old table"),
    (73, "kVK_VolumeDown", "KEY_VOLUMEDOWN", "not in the old table"),
    (74, "kVK_Mute", "KEY_MUTE", "not in the old table"),
    (79, "kVK_F18", "KEY_F18", "not in the old table"),
    (80, "kVK_F19", "KEY_F19", "not in the old table"),
    (90, "kVK_F20", "KEY_F20", "not in the old table"),
    (93, "kVK_JIS_Yen", "KEY_YEN", "not in the old table; <AE13> in evdev"),
    (94, "kVK_JIS_Underscore", "KEY_RO", "not in the old table; <AB11> in evdev"),
    (95, "kVK_JIS_KeypadComma", "KEY_KPJPCOMMA", "not in the old table; <JPCM> in evdev"),
    (102, "kVK_JIS_Eisu", "KEY_HANGEUL", "macintosh jisevdev: <EISU> is <HNGL>"),
    (104, "kVK_JIS_Kana", "KEY_HANJA", "macintosh jisevdev: <KANA> is <HJCV>"),
    (105, "kVK_F13", "KEY_F13", "the old table has <PRSC> here"),
    (106, "kVK_F16", "KEY_F16", "not in the old table"),
    (107, "kVK_F14", "KEY_F14", "the old table has <SCLK> here"),
    (110, "kVK_ContextualMenu", "KEY_COMPOSE", "not in the old table; the menu key"),
    (113, "kVK_F15", "KEY_F15", "the old table has <PAUS> here"),
    (123, "kVK_LeftArrow", "KEY_LEFT", "ADB arrow codes are Carbon's minus 64"),
    (124, "kVK_RightArrow", "KEY_RIGHT", "ADB arrow codes are Carbon's minus 64"),
    (125, "kVK_DownArrow", "KEY_DOWN", "ADB arrow codes are Carbon's minus 64"),
    (126, "kVK_UpArrow", "KEY_UP", "ADB arrow codes are Carbon's minus 64"),
]


def section(text, name):
    match = re.search(r'xkb_keycodes\s+"' + name + r'"\s*\{(.*?)\n\};', text, re.S)
    if not match:
        sys.exit(f"no section {name}")
    return match.group(1)


def key_codes(body):
    codes = {}
    for line in body.splitlines():
        line = line.split("//", 1)[0]
        match = re.match(r"\s*<([A-Z0-9+\-]+)>\s*=\s*(\d+)\s*;", line)
        if match:
            codes[match.group(1)] = int(match.group(2))
    return codes


def main():
    with open(MACINTOSH) as file:
        old = key_codes(section(file.read(), "old"))
    with open(EVDEV) as file:
        evdev = key_codes(section(file.read(), "evdev"))
    defines = {}
    with open(INPUT_EVENT_CODES) as file:
        for line in file:
            match = re.match(r"#define\s+(KEY_\w+)\s+(0x[0-9a-fA-F]+|\d+)", line)
            if match:
                defines[match.group(1)] = int(match.group(2), 0)

    rows = {}
    for name, code in old.items():
        if name in NOT_JOINED:
            continue
        if name not in evdev:
            sys.exit(f"<{name}> is not in the evdev key codes")
        rows[code - 8] = (evdev[name] - 8, f"<{name}>: macintosh(old) {code}, evdev {evdev[name]}")
    for carbon, carbon_name, key_name, reason in SUPPLEMENT:
        if carbon in rows:
            sys.exit(f"{carbon_name} is already joined")
        rows[carbon] = (defines[key_name], f"{carbon_name} = {key_name}: {reason}")

    evdev_codes = [row[0] for row in rows.values()]
    if len(set(evdev_codes)) != len(evdev_codes):
        sys.exit("two Carbon codes map to one evdev code")
    print("// SPDX-License-Identifier: GPL-3.0-or-later")
    print("// Generated by generate-key-code-table.py; see there for the sources. {Carbon code, evdev code}.")
    for carbon in sorted(rows):
        code, comment = rows[carbon]
        print(f"{{{carbon}, {code}}}, // {comment}")


main()
