# Turns kavrimo-cli's help texts into manual-page text (troff). Called by make-cli-manpage.sh:
#   awk -v part=synopsis|commands|options -f help-to-man.awk HELP...
# The first help is the program's own (kavrimo-cli --help), the others one command's each
# (kavrimo-cli COMMAND --help), in the program's order. A help text reads:
#   Usage: kavrimo-cli ... (further forms indented under it)
#   <blank>
#   description lines
#   <blank>
#   Commands: | Options:
#     name  text (an option's name is "-x, --name VALUE..." or "--name VALUE...")
#     continuation lines indented further

# Text for troff: backslashes and minus signs escaped.
function esc(text) {
  gsub(/\\/, "\\e", text)
  gsub(/-/, "\\-", text)
  return text
}

# A text line for troff: one that begins with a dot or a quote would be taken for a request.
function text_line(text) {
  return (text ~ /^[.']/) ? "\\&" text : text
}

# A usage line or an option head: options in bold, placeholders (upper-case words) in italics.
function style(text,    n, words, i, word, lead, trail, core, out) {
  n = split(text, words, " ")
  out = ""
  for (i = 1; i <= n; i++) {
    word = words[i]
    lead = ""; trail = ""
    while (word ~ /^\[/) { lead = lead "["; word = substr(word, 2) }
    for (;;) {
      if (word ~ /\.\.\.$/) { trail = "..." trail; word = substr(word, 1, length(word) - 3) }
      else if (word ~ /[],]$/) { trail = substr(word, length(word)) trail; word = substr(word, 1, length(word) - 1) }
      else break
    }
    if (word ~ /^-/) core = "\\fB" esc(word) "\\fR"
    else if (word ~ /^[A-Z][A-Z0-9_]*$/) core = "\\fI" esc(word) "\\fR"
    else core = esc(word)
    out = out (i > 1 ? " " : "") esc(lead) core esc(trail)
  }
  return out
}

function flush_entry() {
  if (entry_head == "") return
  print ".TP"
  print text_line(style(entry_head))
  print text_line(esc(entry_text))
  entry_head = ""
}

FNR == 1 {
  flush_entry()
  file++
  section = "usage"
  description = ""
  paragraph_break = 0
  command = ""
}

# The usage lines: "Usage: kavrimo-cli [COMMAND] ..." then "       kavrimo-cli ...".
section == "usage" && /^(Usage: +|  +)kavrimo-cli / {
  line = $0
  sub(/^(Usage: +| +)kavrimo-cli /, "", line)
  if (file > 1) {
    if (command == "") { command = line; sub(/ .*/, "", command) }
    rest = line; sub(/^[^ ]+ ?/, "", rest)
    if (part == "synopsis") { print ".SY kavrimo\\-cli"; print "\\fB" esc(command) "\\fR " style(rest); print ".YS" }
    if (part == "commands") {
      if (command_usage == "") { print ".SS \"" esc(command) "\""; print ".nf" }
      print "\\fBkavrimo\\-cli " esc(command) "\\fR " style(rest)
      command_usage = "yes"
    }
  }
  next
}
section == "usage" && /^$/ {
  if (part == "commands" && command_usage != "") print ".fi"
  command_usage = ""
  section = "description"
  next
}
(section == "description" || section == "end") && /^[A-Za-z]+:$/ {
  if (part == "commands" && file > 1 && section == "description") { print ".PP"; print description }
  section = ($0 == "Options:") ? "options" : "list"
  next
}
section == "description" {
  if ($0 == "") paragraph_break = (description != "")
  else {
    if (description == "") description = text_line(esc($0))
    else if (paragraph_break) description = description "\n.PP\n" text_line(esc($0))
    else description = description " " esc($0)
    paragraph_break = 0
  }
  next
}
section == "options" || section == "list" {
  if ($0 ~ /^$/) { flush_entry(); section = "end"; next }
  wanted = (part == "commands" && file > 1 && section == "options") || (part == "options" && file == 1 && section == "options")
  if (!wanted) next
  line = $0
  if (line ~ /^  ( *)-/ && match(line, /[^ ]  +[^ ]/)) {
    flush_entry()
    entry_head = substr(line, 1, RSTART); sub(/^ +/, "", entry_head)
    entry_text = substr(line, RSTART + 1); sub(/^ +/, "", entry_text)
  } else {
    sub(/^ +/, "", line)
    entry_text = entry_text " " line
  }
  next
}
END { flush_entry() }
