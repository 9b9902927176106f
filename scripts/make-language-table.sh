#!/usr/bin/env bash
# Writes src/handoff/MkvmergeLanguageTable.inc: the ISO 639-1 and ISO 639-2 codes that
# mkvmerge knows, from `mkvmerge --list-languages`, sorted, one string per line. Run it
# again when a newer mkvmerge knows more codes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=src/handoff/MkvmergeLanguageTable.inc
{
  echo "// The ISO 639-1 and ISO 639-2 codes of \`mkvmerge --list-languages\` ($(mkvmerge --version | head -1 | cut -d' ' -f1-2))."
  echo "// Written by scripts/make-language-table.sh; do not edit."
  mkvmerge --list-languages | awk -F'|' 'NR > 2 {
      for (i = 3; i <= 4; ++i) { code = $i; gsub(/ /, "", code); if (code != "") print code }
    }' | LC_ALL=C sort -u | sed 's/.*/"&",/'
} > "$out"
echo "$out: $(grep -c '^"' "$out") codes"
