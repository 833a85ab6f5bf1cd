# SPDX-License-Identifier: GPL-3.0-or-later
# A Tk text window whose selection is already on the clipboard, as after the user's own Ctrl+C. Tk keeps
# the clipboard when it copies again, so its next Copy changes the contents without a new owner.
#   wish copied-editor.tcl -name tkeditor TEXT
text .text -width 40 -height 2
.text insert end [lindex $argv 0]
.text tag add sel 1.0 {end - 1c}
pack .text
focus .text
event generate .text <<Copy>>
bind .text <FocusIn> {puts focused; flush stdout}
