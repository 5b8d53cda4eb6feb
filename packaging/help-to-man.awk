# Turns the text of "p1import --help" into the body of its man page (roff, man macros), so that
# the page says what the program says and nothing the help has lost. The help reads:
#   "Utilisation :" and the command lines      -> SYNOPSIS
#   the paragraph(s) up to the first option    -> DESCRIPTION
#   "  --option   text" and its indented lines -> OPTIONS, one item each
#   the closing paragraphs (the log file, the exit status) -> JOURNAL ET CODE DE SORTIE
# Variables: version ("p1import 1.0.0 ..."; its first two words head the page), date.

# Text for roff: a backslash printed as such, "-" kept the hyphen-minus that searches find, the
# blank of French typography before ":", ";", "!", "?", "»" and after "«" kept from breaking the
# line, and a line that starts with a dot or a quote kept from being read as a request. (Each
# backslash of a replacement is doubled: mawk and gawk read a single one differently.)
function roff(text) {
    gsub(/\\/, "\\\\e", text)
    gsub(/-/, "\\\\-", text)
    gsub(/ :/, "\\\\~:", text)
    gsub(/ ;/, "\\\\~;", text)
    gsub(/ !/, "\\\\~!", text)
    gsub(/ \?/, "\\\\~?", text)
    gsub(/ »/, "\\\\~»", text)
    gsub(/« /, "«\\\\~", text)
    if (text ~ /^[.']/)
        text = "\\&" text
    return text
}

function section(title) {
    if (state == "synopsis")
        print ".fi"
    print ".SH " title
    state = title
}

BEGIN {
    split(version, words, " ")
    print "'\\\" -*- coding: UTF-8 -*-"
    printf ".TH P1IMPORT 1 \"%s\" \"%s %s\" \"Commandes utilisateur\"\n", date, words[1], words[2]
    # Names such as P1IMPORT_COMMIT_EACH_ROW are not to be cut at a line's end, and lines are
    # not stretched to the margin around them.
    print ".nh"
    print ".ad l"
    print ".SH NOM"
    print "p1import \\- importe les données d'un cabinet de la base Sorvane dans la base Tessaris"
    state = "start"
    pendingParagraph = 0
}

/^Utilisation :$/ {
    section("SYNOPSIS")
    print ".nf"
    state = "synopsis"
    next
}

state == "synopsis" && /^$/ {
    print ".fi"
    state = "before description"
    next
}

state == "synopsis" {
    line = $0
    sub(/^  /, "", line)
    line = roff(line)
    sub(/^p1import/, "\\fBp1import\\fR", line)
    print line
    next
}

state == "before description" && /^$/ { next }

state == "before description" {
    section("DESCRIPTION")
}

/^  -/ {
    if (state != "OPTIONS")
        section("OPTIONS")
    name = $1
    text = $0
    sub(/^ +[^ ]+ +/, "", text)
    print ".TP"
    print "\\fB" roff(name) "\\fR"
    print roff(text)
    next
}

state == "OPTIONS" && /^    / {
    text = $0
    sub(/^ +/, "", text)
    print roff(text)
    next
}

state == "OPTIONS" && /^$/ {
    section("JOURNAL ET CODE DE SORTIE")
    next
}

/^$/ {
    pendingParagraph = 1
    next
}

{
    if (pendingParagraph)
        print ".PP"
    pendingParagraph = 0
    print roff($0)
}
