#!/bin/bash
# Recoll end to end: indexes a folder of made-up .zcv documents through cvxtext with the
# configuration files CVXFilter ships (integrations/recoll/, copied unchanged), then queries the
# index and checks which documents each query finds.
#
#   recoll_test.sh MAKE_RECOLL_CORPUS CVXTEXT INTEGRATIONS_FOLDER SCRATCH_FOLDER
#
# Everything it writes is in SCRATCH_FOLDER, emptied first: the documents, the Recoll
# configuration folders and their indexes, and a private HOME and XDG folders, so that the
# user's own Recoll configuration is never read or touched. Exit status 0 when every check
# passes, 1 when one fails, 77 (a skip for CTest) without Recoll's command-line tools.
set -u

if [ $# -ne 4 ]; then
    echo "usage: recoll_test.sh MAKE_RECOLL_CORPUS CVXTEXT INTEGRATIONS_FOLDER SCRATCH_FOLDER" >&2
    exit 2
fi
make_corpus=$1
cvxtext=$2
shipped=$3/recoll
scratch=$4

if ! command -v recollindex >/dev/null || ! command -v recollq >/dev/null; then
    echo "recoll_test: skipped: recollindex and recollq are missing;" \
         "tools/check-all installs them (Debian package recollcmd)"
    exit 77
fi

fail() {
    echo "recoll_test: FAILED: $*" >&2
    exit 1
}

# A clean scratch folder, and a private home: Recoll keeps state under XDG_CONFIG_HOME and its
# lock file under XDG_RUNTIME_DIR.
case $scratch in
/*) ;;
*) fail "the scratch folder must be an absolute path: $scratch" ;;
esac
rm -rf -- "$scratch" || fail "cannot empty $scratch"
mkdir -p -- "$scratch/home/.config" "$scratch/home/.cache" "$scratch/home/.local/share" \
            "$scratch/home/.local/state" || fail "cannot create $scratch"
mkdir -m 700 -- "$scratch/home/run" || fail "cannot create $scratch/home/run"
export HOME=$scratch/home
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
export XDG_STATE_HOME=$HOME/.local/state XDG_RUNTIME_DIR=$HOME/run
for variable in $(env | sed -n 's/^\(RECOLL_[A-Za-z0-9_]*\)=.*/\1/p'); do
    unset "$variable"
done
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8

# Recoll runs "cvxtext FILE" from PATH, as it would for a user: the build's cvxtext comes first.
cvxtext_folder=$(cd -- "$(dirname -- "$cvxtext")" && pwd) || fail "no folder for $cvxtext"
export PATH=$cvxtext_folder:$PATH
[ "$(command -v cvxtext)" = "$cvxtext_folder/cvxtext" ] ||
    fail "cvxtext on PATH is $(command -v cvxtext), not $cvxtext_folder/cvxtext"

failures=0

# A Recoll configuration folder: recoll.conf indexing one folder, without aspell.
# write_config CONF TOPDIR
write_config() {
    mkdir -p -- "$1" || fail "cannot create $1"
    {
        echo "topdirs = \"$2\""
        echo "noaspell = 1"
        echo "loglevel = 3"
    } >"$1/recoll.conf" || fail "cannot write $1/recoll.conf"
}

# Indexes CONF's folder: index CONF
index() {
    echo "recoll_test: recollindex -c $1"
    recollindex -c "$1" --diagsfile "$1/diagnostics" </dev/null >"$1/recollindex.log" 2>&1
    local status=$?
    if [ $status -ne 0 ]; then
        cat -- "$1/recollindex.log" >&2
        fail "recollindex -c $1 exited with $status"
    fi
    if grep -qw cvxtext -- "$1/missing" 2>/dev/null; then
        cat -- "$1/missing" >&2
        fail "Recoll did not find cvxtext"
    fi
    # What Recoll did with the documents it could not index, if any.
    if [ -s "$1/diagnostics" ]; then
        echo "recoll_test: Recoll's diagnostics:"
        sed 's/^/    /' -- "$1/diagnostics"
    fi
    # Errors in Recoll's log: a handler that failed, text it could not decode.
    if grep -q '^:[12]:' -- "$1/recollindex.log"; then
        echo "FAIL  recollindex -c $1 logged errors:"
        grep '^:[12]:' -- "$1/recollindex.log" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}

# Runs each query of a table on standard input, "QUERY | DOCUMENT, DOCUMENT..." (the names of
# the documents it must find, in TOPDIR, and none other; nothing after | for none), and checks
# the result. check CONF TOPDIR
check() {
    local conf=$1 topdir=$2 query expected url found status
    while IFS='|' read -r query expected; do
        query=$(echo "$query" | sed 's/^ *//; s/ *$//')
        case $query in '' | '#'*) continue ;; esac
        expected=$(echo "$expected" | tr ',' '\n' | sed 's/^ *//; s/ *$//; /^$/d' |
                   LC_ALL=C sort | paste -sd '|' | sed 's/|/, /g')
        recollq -c "$conf" -b -n 0 "$query" </dev/null >"$conf/query.out" 2>"$conf/query.err"
        status=$?
        if [ $status -ne 0 ]; then
            cat -- "$conf/query.err" >&2
            fail "recollq -c $conf '$query' exited with $status"
        fi
        found=$(while IFS= read -r url; do
                    case $url in
                    "file://$topdir/"*) echo "${url#"file://$topdir/"}" ;;
                    file://*) echo "$url" ;;
                    esac
                done <"$conf/query.out" | LC_ALL=C sort | paste -sd '|' | sed 's/|/, /g')
        if [ "$found" = "$expected" ]; then
            printf 'ok    %-24s -> %s\n' "$query" "${found:-(nothing)}"
        else
            printf 'FAIL  %-24s -> %s, expected %s\n' "$query" "${found:-(nothing)}" \
                   "${expected:-nothing}"
            failures=$((failures + 1))
        fi
    done
}

# 1. The shipped files alone, as for a user who had no mimemap, mimeconf or mimeview yet.
docs=$scratch/documents
conf=$scratch/recoll
mkdir -p -- "$docs" || fail "cannot create $docs"
"$make_corpus" "$docs" || fail "$make_corpus $docs exited with $?"
write_config "$conf" "$docs"
for file in mimemap mimeconf mimeview; do
    cp -- "$shipped/$file" "$conf/$file" || fail "cannot copy $shipped/$file"
done
index "$conf"

# Recoll's index is stripped: lower case, and accents are folded, so that a query with or
# without them finds the word; ß folds to ss, but ø stays ø. Its stemmer is English; the words
# are made up, so no stem of one is another.
check "$conf" "$docs" <<'EOF'
# Latin-1 codes and a wide element
krévanol                 | a-latin.zcv
krevanol                 | a-latin.zcv
KREVANOL                 | a-latin.zcv
grüßnitzer               | a-latin.zcv
grussnitzer              | a-latin.zcv
smørbik                  | a-latin.zcv
étolvarde                | a-latin.zcv
etolvarde                | a-latin.zcv
naïvquest                | a-latin.zcv
naivquest                | a-latin.zcv
façonnier                | a-latin.zcv
faconnier                | a-latin.zcv
přivenko                 | a-latin.zcv
privenko                 | a-latin.zcv
# Next to and inside typographic codes: curly quotes, dashes, ellipsis, bullet, trade mark,
# euro sign; code 173 comes out as "-", so Recoll has the two halves; a no-break space is a
# space between two words of a phrase; character styles and flag words inside a word; text
# like an HTML tag (the handler's output is plain text, not HTML)
quorvex                  | c-typographic.zcv
snerkle                  | c-typographic.zcv
plimbo                   | c-typographic.zcv
zantric                  | c-typographic.zcv
drabbit                  | c-typographic.zcv
moxeline                 | c-typographic.zcv
wumblor                  | c-typographic.zcv
tarnek                   | c-typographic.zcv
frib                     | c-typographic.zcv
noxel                    | c-typographic.zcv
"glavin troskel"         | c-typographic.zcv
zublon                   | c-typographic.zcv
morbekin                 | c-typographic.zcv
trundalik                | c-typographic.zcv
spofflet                 | c-typographic.zcv
anglezift                | c-typographic.zcv
# A word across a story's gap is one word; two stories do not run together
vextrandolo              | e-gaps.zcv
vext                     |
randolo                  |
halvornik                | e-gaps.zcv
pexilomb                 | e-gaps.zcv
halvornikpexilomb        |
# The story after skipped records; bytes that are no text: the preamble, other records (one
# shaped like a story), element payloads, a story's gap
aftskipolo               | g-skipped.zcv
preambzorf               |
skiprekwid               |
fauxstorik               |
prevrekmo                |
postrekvu                |
ctlpaykrim               |
inlfrazop                |
gapfillzut               |
# Damaged documents: the text they still hold is indexed (cvxtext prints it and exits 0;
# Recoll drops a handler's whole output when it exits non-zero), nothing else, and the ones after
# them in name order (c after b, e after d, g after f, i after h) are found above and below
cutfirstok               | b-cut-short.zcv
cutpartwob               | b-cut-short.zcv
cutlostzeb               |
badlenpre                | d-bad-length.zcv
badlenpost               |
overlongmif              | h-long-length.zcv
garbwuzzle               |
# One document's word finds that document only; suffix case; a file name to quote
alphquembo               | i-alpha.zcv
betquembo                | j-beta.zcv
alphquembo OR betquembo  | i-alpha.zcv, j-beta.zcv
upsufkorn                | k-upper-suffix.ZCV
spacenamvo               | l name with spaces & 'quotes'.zcv
EOF

# 2. The shipped files appended to a user's own files that exist already, end without a line
# feed, and (mimemap) end inside a per-folder section: the user's own type (.qzt, read through
# cvxtext too, by the user's last line) and ours both work.
docs2=$scratch/documents-2
conf2=$scratch/recoll-appended
mkdir -p -- "$docs2" || fail "cannot create $docs2"
cp -- "$docs/i-alpha.zcv" "$docs2/o-appended.zcv" || fail "cannot copy i-alpha.zcv"
cp -- "$docs/a-latin.zcv" "$docs2/n-user.qzt" || fail "cannot copy a-latin.zcv"
write_config "$conf2" "$docs2"
printf '# my own types\n.qzt = application/x-qzt\n[%s]\n.qzo = text/plain' "$scratch/elsewhere" \
    >"$conf2/mimemap"
printf '[index]\napplication/x-qzt = exec cvxtext;mimetype=text/plain;charset=utf-8' \
    >"$conf2/mimeconf"
printf '[view]\napplication/x-qzt = xdg-open %%f' >"$conf2/mimeview"
for file in mimemap mimeconf mimeview; do
    cat -- "$shipped/$file" >>"$conf2/$file" || fail "cannot append $shipped/$file"
done
index "$conf2"
check "$conf2" "$docs2" <<'EOF'
alphquembo               | o-appended.zcv
krévanol                 | n-user.qzt
EOF

# recollindex runs in the foreground and leaves nothing running; make sure of it.
left=$(ps -eo pid=,args= | SCRATCH="$scratch/" awk 'index($0, ENVIRON["SCRATCH"])')
if [ -n "$left" ]; then
    echo "$left" >&2
    fail "processes of this test are still running"
fi

if [ $failures -ne 0 ]; then
    fail "$failures checks failed"
fi
echo "recoll_test: every check passed"
