# Turns CHANGELOG.md into a native Debian package's changelog: a block per
# "## VERSION - YYYY-MM-DD" section and an item per "- " entry, its words wrapped
# again to 80 columns, since Debian's item marks are wider than Markdown's.
# Usage: awk -v package=NAME -v contact="NAME <MAIL>" -f changelog.awk CHANGELOG.md
function fail(why) {
    printf "%s:%d: %s\n", FILENAME, FNR, why > "/dev/stderr"
    failed = 1
    exit 1
}

function end_item(   n, words, i, line, count) {
    n = split(item, words, " ")
    line = "  *"
    for (i = 1; i <= n; i++) {
        if (count > 0 && length(line) + 1 + length(words[i]) > 80) {
            print line
            line = "   "
            count = 0
        }
        line = line " " words[i]
        count++
    }
    if (n > 0)
        print line
    item = ""
}

function end_section() {
    end_item()
    if (when != "")
        printf "\n -- %s  %s\n", contact, when
}

/^## / {
    if (!match($0, /^## [^ ]+ - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/))
        fail("a heading is '## VERSION - YYYY-MM-DD'")
    end_section()
    if (when != "")
        print ""
    command = "date -u -R -d " $4
    if ((command | getline when) <= 0 || close(command) != 0)
        fail("no such date: " $4)
    printf "%s (%s) unstable; urgency=medium\n\n", package, $2
    next
}
when == "" { next } # the prose above the first section
/^- / { end_item(); item = substr($0, 3); next }
/^  +[^ ]/ && item != "" { item = item " " $0; next }
/^$/ { end_item(); next }
{ fail("an entry is '- ' and its continuation lines are indented") }

END {
    if (failed)
        exit 1
    if (when == "")
        fail("no '## VERSION - YYYY-MM-DD' section")
    end_section()
}
