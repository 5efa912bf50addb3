#!/usr/bin/env bash
# Checks the manual page: every message the tool can print is listed there
# word for word, and the page renders without warnings.
# Usage: tools/check-manual.sh [path/to/clipfile.1.in]
set -euo pipefail
cd "$(dirname "$0")/.."
page=${1:-doc/clipfile.1.in}

# Every text the tool prints is written once, in the message catalogue: its
# string literals (adjacent ones joined) are the messages. Split at their line
# ends and trimmed of spaces and tabs, they are the lines the page must list.
catalogue=src/platform/messages.cpp
messages=$(perl -0777 -ne '
    s{^\s*(?:#|//)[^\n]*}{}mg;
    while (/((?:"(?:[^"\\]|\\.)*"\s*)+)/g) {
        my $literals = $1;
        my $text = "";
        $text .= $1 while $literals =~ /"((?:[^"\\]|\\.)*)"/g;
        $text =~ s/\\n/\n/g;
        $text =~ s/\\t/\t/g;
        $text =~ s/\\(["\\])/$1/g;
        for my $line (split /\n/, $text) {
            $line =~ s/^[ \t]+|[ \t]+$//g;
            print "$line\n" if $line ne "";
        }
    }' "$catalogue" | sort -u)

# A text printed from anywhere else would escape this check.
mapfile -t sources < <(find src \( -name '*.cpp' -o -name '*.h' \) ! -path "$catalogue")
strays=$(perl -0777 -ne '
    while (/\b(Print\(\s*\w+\s*,|f?printf\(\s*(?:\w+\s*,)?|WriteError\(|WriteOutput\(|f?puts\()\s*"/g) {
        my $line = 1 + (substr($_, 0, $-[0]) =~ tr/\n//);
        print "$ARGV:$line: $1\n";
    }' "${sources[@]}")
if [ -n "$strays" ]; then
    printf 'check-manual: a text printed outside %s: %s\n' "$catalogue" "$strays" >&2
    exit 1
fi

count=$(printf '%s\n' "$messages" | grep -c .)
if [ "$count" -lt 40 ]; then
    echo "check-manual: found only $count messages in $catalogue; the extraction is broken" >&2
    exit 1
fi

# The page's text with its font changes and escapes undone, one source line
# each; arguments stand as italic words in it.
text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\(dq/"/g' -e 's/\\(aq/'"'"'/g' \
    -e 's/\\&//g' -e 's/\\e/\\/g' "$page")

missing=0
while IFS= read -r message; do
    # %s is an argument (the page writes file, format or name), %u a number.
    pattern=$(printf '%s' "$message" | perl -pe '
        $_ = quotemeta($_);
        s/\\%s/(?:file|format|name)/g;
        s/\\%u/value/g;')
    if ! printf '%s\n' "$text" |
        PATTERN=$pattern perl -ne '$found = 1 if /$ENV{PATTERN}/; END { exit !$found }'; then
        echo "check-manual: not in $page: $message" >&2
        missing=$((missing + 1))
    fi
done <<<"$messages"

# Renders the page as it is installed and fails on any warning.
rendered=$(mktemp --suffix=.1)
warnings=$(mktemp)
trap 'rm -f "$rendered" "$warnings"' EXIT
version=$(sed -n 's/^project(clipfile VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
sed "s/@PROJECT_VERSION@/$version/g" "$page" >"$rendered"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$rendered" 2>>"$warnings" >/dev/null ||
    echo "man cannot render the page" >>"$warnings"
if command -v mandoc >/dev/null; then
    mandoc -Tlint -Wwarning "$rendered" >>"$warnings" 2>&1 || true
fi
lexgrog "$rendered" >/dev/null || echo "lexgrog cannot read the NAME section" >>"$warnings"
if [ -s "$warnings" ]; then
    sed 's/^/check-manual: /' "$warnings" >&2
    missing=$((missing + 1))
fi

if [ "$missing" -ne 0 ]; then
    echo "check-manual: $missing problem(s)" >&2
    exit 1
fi
echo "check-manual: $count messages listed, page renders cleanly"
