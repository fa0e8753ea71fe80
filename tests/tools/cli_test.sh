#!/usr/bin/env bash
# The composition tools through tarrowin-cli on real document files: what they write is
# read back with "dump" and checked in Python; refusals must print their message, exit
# non-zero and write nothing.
set -euo pipefail
cli="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
py=/usr/bin/python3

fail() { echo "FAIL: $*" >&2; exit 1; }
# refused EXPECTED-TEXT ARGS...: the command must fail, print the text and leave no OUT.
refused() {
    local expected="$1"; shift
    rm -f out.trw
    if "$cli" "$@" >stdout.txt 2>stderr.txt; then fail "accepted: $*"; fi
    grep -qF -- "$expected" stderr.txt || { cat stderr.txt >&2; fail "no \"$expected\" from: $*"; }
    [ ! -e out.trw ] || fail "wrote a file although refused: $*"
}
# check FILE PYTHON: runs the Python with d = the document as JSON.
check() {
    "$cli" dump "$1" >dump.json
    $py -c "import json; d = json.load(open('dump.json')); ev = d['events']; cur = d['current']
$2" || fail "check of $1"
}

"$cli" new new.trw

# Randomize: the same seed gives the same file, another seed another one.
"$cli" randomize new.trw r1.trw --seed 5 --voices 1-4 >/dev/null
"$cli" randomize new.trw r2.trw --seed 5 --voices 1-4 >/dev/null
"$cli" randomize new.trw r3.trw --seed 6 --voices 1-4 >/dev/null
cmp -s r1.trw r2.trw || fail "same seed, different files"
if cmp -s r1.trw r3.trw; then fail "different seeds, same file"; fi
check r1.trw "
vs = cur['voices']
assert all(vs[v]['enabled'] == 1 for v in range(4)), 'chosen voices on'
assert all(vs[v]['enabled'] == 0 for v in range(4, 16))
assert 20 <= cur['tempo'] <= 339"

# Only Henon, only Pentatonic without user scales.
"$cli" randomize new.trw h.trw --seed 9 --voices 1-16 --algorithms henon --scales pentatonic --no-user-scales >/dev/null
check h.trw "
for v in cur['voices']:
    assert v['algorithm'] == 3 and 1 <= v['henonA'] <= 2 and 0 <= v['henonB'] <= 1, v
    assert v['scaleIndex'] == 13"

# Only user scales.
"$cli" randomize new.trw u.trw --seed 3 --voices 1,2 --only-user-scales >/dev/null
check u.trw "
for v in cur['voices'][:2]:
    assert v['scaleIndex'] == 15 and v['userScale'][0] == 0 and 3 <= len(v['userScale']) <= 12, v"

# Create: chained counters from zero.
"$cli" create r1.trw c.trw --seed 7 --events 10 --start-counter zero >create.txt
grep -q "Created 10 of 10 events" create.txt || fail "create summary: $(cat create.txt)"
check c.trw "
assert len(ev) == 10
start = 0
for e in ev:
    assert e['startCounter'] == start, (e['startCounter'], start)
    assert 50 <= e['endCounter'] - e['startCounter'] <= 199
    start = e['endCounter']
assert cur['startCounter'] == ev[0]['startCounter'] and cur['voices'] == ev[0]['voices'], 'event 0 loaded'"
"$cli" create r1.trw c2.trw --seed 7 --events 10 --start-counter zero >/dev/null
cmp -s c.trw c2.trw || fail "create: same seed, different files"

# Create's refusals and its stop at the counter limit.
refused "Maximum number of Events is 1000." create new.trw out.trw --seed 1 --events 1001
refused "Maximum number of Events is 990." create c.trw out.trw --seed 1 --events 991
refused "Minimum values for Random Counters is 0." create new.trw out.trw --seed 1 --start-counter random --random-start 5 5
refused "Please select some voices" create new.trw out.trw --seed 1 --voices none
refused "minimum voices on range is 1 to 2" create new.trw out.trw --seed 1 --voices 1,2 --voices-on-off --min-voices-on 3
"$cli" create new.trw big.trw --seed 2 --events 1000 --min-counter 1 --max-counter 2 >/dev/null
check big.trw "assert len(ev) == 1000"
"$cli" create new.trw near.trw --seed 2 --events 1 --start-counter random --random-start 48999 49000 --min-counter 900 --max-counter 1000 >/dev/null
"$cli" create near.trw stop.trw --seed 2 --events 5 --min-counter 900 --max-counter 1000 >/dev/null 2>stderr.txt
grep -qF "Maximum counter value reached" stderr.txt || fail "no counter-limit message"
check stop.trw "assert len(ev) == 1"

# The pickers' and ranges' refusals.
refused "Please choose at least one algorithm" randomize new.trw out.trw --seed 1 --algorithms none
refused "Please select at least one scale" randomize new.trw out.trw --seed 1 --scales none --no-user-scales
refused "Please make at least one selection" randomize new.trw out.trw --seed 1 --dynamics none
refused "Please select at least one note" randomize new.trw out.trw --seed 1 --notes none
refused $'Parameters must be between 2 and 1000000\nFrom must be less than To' randomize new.trw out.trw --seed 1 --param1-range 1 5
refused "Parameters must be between 1 and 960" randomize new.trw out.trw --seed 1 --note-values other --other-range 48 48

# Event commands.
"$cli" event add new.trw e1.trw --start 0 --end 200 >add.txt
grep -qF "0 [0 -> 200]" add.txt || fail "add line: $(cat add.txt)"
refused "Minimum difference between Start and End counters  is 1" event add new.trw out.trw --start 10 --end 10
"$cli" event add e1.trw e2.trw --start 200 --end 300 >/dev/null
"$cli" event insert e2.trw e3.trw --index 1 --start 50 --end 60 >/dev/null
check e3.trw "assert [(e['startCounter'], e['endCounter']) for e in ev] == [(0, 200), (50, 60), (200, 300)]"
"$cli" event remove e3.trw e4.trw --index 0 --no >/dev/null 2>&1 || true
[ ! -e e4.trw ] || fail "remove answered No wrote a file"
"$cli" event remove e3.trw e4.trw --index 0 >/dev/null
check e4.trw "assert len(ev) == 2 and ev[0]['startCounter'] == 50"
"$cli" event replace e4.trw e5.trw --index 1 --start 7 --end 9 >replace.txt
grep -qF "Replace Event 1 with current settings? Yes" replace.txt || fail "replace question"
check e5.trw "assert (ev[1]['startCounter'], ev[1]['endCounter']) == (7, 9) and ev[0]['startCounter'] == 50"
refused "Please select an event in the 'Play from Event' combo box" event replace e4.trw out.trw --index 5
"$cli" event tempo e5.trw e6.trw --tempo 120 >/dev/null
check e6.trw "assert [e['tempo'] for e in ev] == [120, 120]"
refused "You have not created a composition yet" event tempo new.trw out.trw
"$cli" event clear e6.trw e7.trw >/dev/null
check e7.trw "assert ev == []"

# Multiple Voice Editor.
"$cli" edit-voices h.trw mv.trw --voices 1,3 --dynamic mf >/dev/null
"$cli" dump h.trw >h.json
check mv.trw "
h = json.load(open('h.json'))['current']['voices']
for i, v in enumerate(cur['voices']):
    exp = dict(h[i])
    if i in (0, 2): exp['dynamicIndex'], exp['velocity'] = 3, 88
    assert v == exp, i"
refused "No Octaves selected!" edit-voices h.trw out.trw --voices 1 --octaves none --dynamic p
refused "No voices selected!" edit-voices h.trw out.trw --dynamic p
refused "No events selected!" edit-voices c.trw out.trw --voices 1 --events none --dynamic p
"$cli" edit-voices c.trw mve.trw --voices 1-16 --events 0,2 --pan -20 >/dev/null
check mve.trw "
assert all(v['pan'] == -20 for v in ev[0]['voices'] + ev[2]['voices'])
assert not all(v['pan'] == -20 for v in ev[1]['voices'])"
"$cli" edit-voices new.trw mi.trw --voices 2 --inverted yes --match-scale yes --scale major >/dev/null
check mi.trw "assert cur['voices'][1]['scale'] == [0, 1, 3, 5, 7, 8, 10], cur['voices'][1]['scale']"

echo "tools CLI: all checks passed"
