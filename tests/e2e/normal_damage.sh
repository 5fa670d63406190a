#!/usr/bin/env bash
# Damage a unit's files can come to, and the way out of each. --yes never
# takes a default that deletes stored results: a damaged index file's
# question (1008) without --answer ends the run with exit 3 and keeps every
# file. A lost index file is made again; an impossible seek index is
# damage; a folder at a later scan's name is offered for removal (1013).
# "tolvarin-cli forget" removes the unit's files and header after asking.
# Files left without their drive header are offered for removal.
#
# Usage: normal_damage.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 1

run first -- --yes --answer 8=0
check "first: exit status 0" equals "$status" 0
check "first: standard output holds no console chatter" test ! -s "$work/first.out"
files=$(unit_files)

# A damaged index file: --yes does not delete the unit's history.
echo "garbage" >"$(unit_file .ssx)"
snapshot "$work/before"
run yes-only -- --yes --answer 8=0
check "damaged index, --yes: message 1008 asked" asked yes-only 1008
check "damaged index, --yes: exit status 3" equals "$status" 3
check "damaged index, --yes: the line naming the answer" \
    has "$work/yes-only.err" "needs an answer (--answer 1008=V)"
check "damaged index, --yes: every file kept" same_files "$work/before"

# A lost index file follows from the unit alone: made again, then tested.
rm "$(unit_file .ssx)"
run lost -- --yes --answer 8=0
check "lost index file: tested (exit 0)" equals "$status" 0
check "lost index file: the unit's files whole" equals "$(unit_files)" "$files"

# A seek index with a count no seek scan takes is damage (1008), not a
# unit that fails every later start.
sed -i 's/^CNT: .*/CNT: 999999999/' "$(unit_file .skx)"
run count -- --yes --answer 8=0
check "impossible seek count: message 1008 asked" asked count 1008

# Forgetting: asked, confirmed, every stored file and backup gone.
cli_lead=(forget sdz)
run_cli forget-no -- --answer 1015=0 --json
check "forget cancelled: exit status 3" equals "$status" 3
check "forget cancelled: files kept" test -e "$data/$(prefix).hdr"
run_cli forget -- --yes --json
check "forget: exit status 0" equals "$status" 0
check "forget: json result" equals "$(json "$work/forget.out" 'd["result"]')" forgotten
check "forget: no file of the unit left" \
    test -z "$(find "$data" -name 'M01*' -o -name '.M01*.[a-z]*[a-z]' | grep -v '\.lock$')"
run anew -- --yes --answer 8=0
check "forgotten unit: tested as a new unit (exit 0)" equals "$status" 0
check "forgotten unit: a baseline again" equals "$(unit_files)" "$files"

# A folder standing at a later scan's name: offered for removal.
mkdir "$(unit_file .pss)"
run stray -- --yes --answer 8=0
check "folder at .pss: message 1013 asked" asked stray 1013
check "folder at .pss: not removed without an answer" test -d "$(unit_file .pss)"
run stray-removed -- --yes --answer 8=0 --answer 1013=1
check "folder at .pss: removed and tested (exit 0)" equals "$status" 0
check "folder at .pss: gone" test ! -e "$(unit_file .pss)"

# A deleted drive header orphans the unit's other files: the unit is
# registered anew, the orphans are named and offered for removal (1014,
# "Keep" by default).
orphans() { # data files (and backups) whose prefix has no header
    local f p
    find "$data" "$data/prev" -maxdepth 1 -type f -name 'M*.*' | while read -r f; do
        p=$(basename "$f")
        p=${p%%.*}
        [ -f "$data/$p.hdr" ] || echo "$f"
    done | wc -l
}
rm "$data/$(prefix).hdr"
run orphaned -- --yes --answer 8=0
check "deleted header: tested as a new unit (exit 0)" equals "$status" 0
check "deleted header: message 1014 asked" asked orphaned 1014
check "deleted header: the orphans kept by default" test "$(orphans)" -gt 0
run orphans-removed -- --yes --answer 8=0 --answer 1014=0
check "deleted header: the orphans removed when asked" equals "$(orphans)" 0
check "deleted header: the unit's own files whole" equals "$(unit_files)" "$files"

finish
