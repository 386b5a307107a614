# Tidies a manual page that help2man made from a program's --help text:
#  - the "Exit status:" and "Files:" blocks become the sections EXIT STATUS and FILES (help2man
#    makes them subsections of whatever section precedes them);
#  - an option listed after the exit codes (the windowed programs' --help and --version)
#    starts an OPTIONS section instead of reading as one more exit code;
#  - in FILES, "name   what it is" lines become tagged paragraphs, and an indented
#    continuation line stays with its entry.
# Everything else passes unchanged.

function startSection(name) {
    print ".SH " name
    section = name
}

/^\.SH / {
    section = substr($0, 5)
    if (section == "OPTIONS") seenOptions = 1
    print
    next
}
/^(\.SS "Exit status:"|Exit status:)$/ { startSection("\"EXIT STATUS\""); next }
/^\.SS "Files:"$/ { startSection("FILES"); next }

section == "\"EXIT STATUS\"" && /^\.TP$/ { heldTP = 1; next }
heldTP {
    heldTP = 0
    if ($0 ~ /^\\fB\\-/) startSection(seenOptions ? "\"MORE OPTIONS\"" : "OPTIONS")
    print ".TP"
    print
    next
}

section == "FILES" && /^\.IP$/ && afterText { next }
section == "FILES" && /^[^.][^ ]*   +/ {
    name = $0
    sub(/   +.*/, "", name)
    text = substr($0, length(name) + 1)
    sub(/^ +/, "", text)
    print ".TP"
    print name
    print text
    afterText = 1
    next
}
{ afterText = ($0 !~ /^\./); print }
