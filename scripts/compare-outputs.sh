#!/usr/bin/env bash
# Differential check of two builds of compactor: both must give byte-identical results on many
# altered copies of the default scenario's sources.
#
#   scripts/compare-outputs.sh [OPTIONS] OLD_BIN NEW_BIN [COUNT]
#
# Case 0 is the unaltered default scenario; it also runs `sources DIR` and the build run
# `--dir DIR` of both programs. Cases 1 to COUNT-1 start from the sources written by OLD_BIN and
# apply 1 to 5 seeded random alterations to the line source (cases 1, 4, 7 ...), the train source
# (2, 5, 8 ...) or both (3, 6, 9 ...). About one case in five whose line source is altered then
# gets tunnel records over or beside its tunnels (markers out of step, the 150 m rule, types past
# 255 or cleared), drawn from a second random stream, so that the other cases are the ones the
# seed gave before. The same seed always gives the same cases.
#
# For each case, OLD_BIN and NEW_BIN run side by side, each in its own scratch directories holding
# identical copies of the case's scenario (its five text files):
#   compile DIR                  (directory "plan")
#   compile DIR --no-plan        (fresh copy, directory "noplan")
#   check DIR                    (fresh copy, directory "check")
#   dump of each output that exists in "plan": text and --json for the record and grid outputs,
#     --every 1000 (text and --json) for the line output
#   plot DIR -o DIR/plot.svg     (in "plan", then in "noplan")
# For every command its exit status, stdout, stderr (the scratch directory's path replaced by
# <DIR>) and the names of the files in its directory after it are compared, and so is every file
# left in the directories, byte for byte. One `diff -rq` over the two scratch trees passes a case
# that is equal throughout; a case that is not is then gone through with cmp, file by file, to
# name each command and what differed.
#
# With --outputs-only only `compile` and `compile --no-plan` are run (and the build run in case
# 0), and only their exit statuses and the three binary outputs are compared: message texts may
# change, the binaries may not.
#
# Output: one line per differing case (case number, command, what differed), a summary of the
# exit statuses of `compile` with each program, the folder where differing cases were kept, and
# last the line "N passed, N failed". Exit status 0 when nothing differed, 1 when something did,
# 2 on a usage error.
set -u

usage() {
  cat <<'EOF'
usage: compare-outputs.sh [OPTIONS] OLD_BIN NEW_BIN [COUNT]

Runs two builds of compactor on COUNT scenarios (default 300; case 0 is the unaltered default
scenario plus the build run, the others are seeded random alterations of its sources) and
compares exit statuses, stdout, stderr and every file written, byte for byte.

options:
  --outputs-only   compare only the exit statuses of `compile` and the binary outputs
  --write-on-error run both compiles with --write-on-error (outputs built whatever the sources hold)
  --seed N         seed of the alterations (default 1)
  --keep DIR       keep differing cases under DIR (default: a new folder in ${TMPDIR:-/tmp})
  --keep-max N     keep at most N differing cases (default 20); all are still reported
  --timeout S      CPU seconds allowed to each command (default 30)
  -h, --help       this text

Exit status: 0 no difference, 1 some case differed, 2 usage error.
EOF
}

outputs_only=0
compile_flags=()
seed=1
keep_dir=
keep_max=20
cmd_timeout=30
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --outputs-only) outputs_only=1 ;;
    --write-on-error) compile_flags=(--write-on-error) ;;
    --seed) seed=${2-}; shift ;;
    --keep) keep_dir=${2-}; shift ;;
    --keep-max) keep_max=${2-}; shift ;;
    --timeout) cmd_timeout=${2-}; shift ;;
    -h|--help) usage; exit 0 ;;
    --) shift; positional+=("$@"); break ;;
    -*) echo "compare-outputs.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) positional+=("$1") ;;
  esac
  shift
done
if [ ${#positional[@]} -lt 2 ] || [ ${#positional[@]} -gt 3 ]; then
  usage >&2
  exit 2
fi
count=${positional[2]:-300}
for n in "$count" "$seed" "$keep_max" "$cmd_timeout"; do
  case "$n" in
    ''|*[!0-9]*) echo "compare-outputs.sh: not a number: '$n'" >&2; exit 2 ;;
  esac
done
if [ "$count" -lt 1 ] || [ "$cmd_timeout" -lt 1 ]; then
  echo "compare-outputs.sh: COUNT and --timeout must be at least 1" >&2
  exit 2
fi

resolve_bin() {
  local p
  case "$1" in
    */*) p=$(readlink -f -- "$1") || p= ;;
    *) p=$(command -v -- "$1") || p= ;;
  esac
  if [ -z "$p" ] || [ ! -f "$p" ] || [ ! -x "$p" ]; then
    echo "compare-outputs.sh: not an executable program: $1" >&2
    exit 2
  fi
  printf '%s\n' "$p"
}
old_bin=$(resolve_bin "${positional[0]}") || exit 2
new_bin=$(resolve_bin "${positional[1]}") || exit 2
command -v python3 >/dev/null || { echo "compare-outputs.sh: python3 is needed" >&2; exit 2; }

if [ -n "$keep_dir" ]; then
  mkdir -p -- "$keep_dir" || exit 2
  keep_dir=$(readlink -f -- "$keep_dir")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-outputs.XXXXXX") || exit 2
pid_old=
pid_new=
cleanup() { rm -rf -- "$work"; }
stop() {   # signal's exit status: ends the two running sides first, then removes the scratch
  trap - INT TERM
  local p
  for p in "$pid_old" "$pid_new"; do
    [ -z "$p" ] || kill -TERM "$p" 2>/dev/null
  done
  wait 2>/dev/null
  exit "$1"
}
trap cleanup EXIT
trap 'stop 130' INT
trap 'stop 143' TERM

LINE_SRC="QUELDRANO 2_linea.txt"
TRAIN_SRC="QUELDRANO 2_555-.txt"
SIM_OUT="QUELDRANO 2_555.sim"
GRID_OUT="QUELDRANO 2_555.dat"
LINE_OUT="QUELDRANO 2_linea.dat"
BINARIES=("$SIM_OUT" "$GRID_OUT" "$LINE_OUT")

# ---------------------------------------------------------------------------------------------
# The alterations. Reads the default scenario from BASE and writes CASES/NNNN/ with its five text
# files, the two sources altered (a source may be left out on purpose), and CASES/NNNN.what with
# what was done.
cat >"$work/alter.py" <<'PYEOF'
import os
import random
import re
import sys

seed, count, base, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
LINE_SRC = "QUELDRANO 2_linea.txt"
TRAIN_SRC = "QUELDRANO 2_555-.txt"
CRLF = b"\r\n"
NUM = re.compile(rb"(?<![A-Za-z0-9.+-])-?[0-9]+(?![A-Za-z0-9.])")

LINE_KEYWORDS = [b"lunghezza percorso", b"progressiva chilometrica uno",
                 b"progressiva chilometrica due", b"progressiva chilometrica tre",
                 b"sfondo uno", b"sfondo due", b"sfondo tre", b"ripetizione segnali 9 codici",
                 b"ripetizione segnali 4 codici", b"pendenza", b"curvad3", b"curvas2", b"curva",
                 b"montagna", b"indicatori_vmax", b"cartello_indicatore"]
TRAIN_KEYWORDS = [b"numero vetture", b"percentuale massa frenata", b"sabbia", b"orologio",
                  b"aderenza", b"velocita", b"stazione", b"rallentamento", b"segnale",
                  b"abbattimento"]
HEADERS = [b"[generale]", b"[GENERALE]", b"[curve]", b"[pendenze]", b"[montagne]", b"[cartelli]",
           b"[indicazioni]", b"[fine]", b"[stazioni]", b"[segnali]", b"[rallentamenti]",
           b"[aderenze]", b"[vel_limite]", b"[codici]", b"[]", b"[", b"]", b"-[nota]",
           b"[ nuova sezione ]", b"x[y]z"]
STRAY = [b"hello world", b"-- note: the viaduct starts here --", b"???", b"", b"   ", b",,,",
         b"12345", b"pendenza", b"nuova velocita", b"caf\xe9 \xff\xfe", b"\t\ttab\t",
         b"x" * 3000, b"\"quoted\", 1", b"-", b"--, --, --", b"12.5, +5, 1e3",
         b"stazione", b"lunghezza percorso", b"a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s",
         b"\x00\x01\x02", b"[generale]", b"ripetizione segnali 4 codici, 0, 0"]
BIG = [255, 256, 32767, 32768, -32768, -32769, 65535, 65536, 1000000, 1000001, 999950,
       2147483647, 2147483648, -2147483648, -2147483649, 4294967296]
OVERFLOW = [b"99999999999", b"99999999999999999999", b"-99999999999"]
BADNUM = [b"12.5", b"+5", b"1e3", b"\"50\"", b"", b" ", b"0x10", b"5-", b"--5", b"1 2", b"abc"]


def split(data):
    parts = data.split(CRLF)
    lines = [[p, CRLF] for p in parts[:-1]]
    if parts[-1]:
        lines.append([parts[-1], b""])
    return lines


def join(lines):
    return b"".join(p + e for p, e in lines)


def show(b, limit=40):
    s = b.decode("latin-1")
    s = s if len(s) <= limit else s[:limit] + "..."
    return repr(s)


def pick(rng, lines, want=None):
    idx = [i for i in range(len(lines)) if want is None or want(lines[i][0])]
    if not idx:
        return None
    head = [i for i in idx if i < 12]
    if head and rng.random() < 0.2:   # the general records sit at the top: reach them more often
        return rng.choice(head)
    return rng.choice(idx)


def new_number(rng, v):
    k = rng.choice(["delta", "delta", "step", "step", "off50", "big", "neg", "zero",
                    "overflow", "scale"])
    if k == "delta":
        return k, str(v + rng.choice([-3, -2, -1, 1, 2, 3])).encode()
    if k == "step":
        return k, str(v + rng.choice([-500, -100, -50, 50, 100, 500, 1000])).encode()
    if k == "off50":
        return k, str(v + rng.randint(1, 49)).encode()
    if k == "big":
        return k, str(rng.choice(BIG)).encode()
    if k == "neg":
        return k, str(-v if v > 0 else -rng.randint(1, 5000)).encode()
    if k == "zero":
        return k, b"0"
    if k == "overflow":
        return k, rng.choice(OVERFLOW)
    if v == 0:
        return k, str(rng.choice([50, 1000, 100000])).encode()
    return k, str(rng.choice([v * 2, v // 2, v * 10, v * 1000])).encode()


def position(rng, lines):
    r = rng.random()
    if r < 0.5:
        return rng.randrange(0, 236000, 50)
    if r < 0.8:   # close to something that is already there
        nums = [int(m.group()) for p, _ in lines for m in NUM.finditer(p)]
        nums = [n for n in nums if n >= 1000] or [0]
        return max(0, rng.choice(nums) + rng.choice([-200, -100, -50, 0, 0, 50, 100, 150, 200]))
    return rng.choice([0, 1, 25, 49, 75, 227950, 228000, 234900, 234950, 235000, 240000,
                       rng.randint(0, 240000)])


def new_record(rng, lines, which):
    p = position(rng, lines)
    if which == "line":
        k = rng.choice(["pendenza", "montagna", "indicatori_vmax", "cartello_indicatore",
                        "curva", "general"])
        if k == "pendenza":
            return "%s,  %d,   %d" % (k, p, rng.choice([-120, -30, -6, 0, 3, 12, 155, 200]))
        if k == "montagna":
            return "%s,   %d,  %d,  %d" % (k, p, p + rng.choice([0, 50, 100, 150, 800, 5000]),
                                          rng.choice([0, 1, 2, 3, 10, 11, 12, 20, 255]))
        if k == "indicatori_vmax":
            sp = [rng.choice([0, 5, 80, 140, 155, 180, 495, 500]) for _ in range(3)]
            return "%s,  %d,  %d,  %d,  %d,  %d,  %d,  %d,  %d,  %d" % (
                k, p, sp[0], sp[1], sp[2], rng.randint(0, 3), sp[0], sp[1], sp[2],
                rng.randint(0, 3))
        if k == "cartello_indicatore":
            return "%s,  %d,   %s" % (k, p, rng.choice(["(GALLERIA)(NUOVA)(M. 100 )", "",
                                                         "(BIVIO PER)( BARI )", "X" * 300]))
        if k == "curva":
            kw = "curva" + rng.choice("ds") + rng.choice("1234567") * rng.choice([1, 1, 1, 0])
            return "%s,  %d,  %d" % (kw, p, rng.choice([0, 1, 50, 200, 500, 3000, 100000]))
        return rng.choice(["lunghezza percorso,    %d" % rng.choice([1, 50, 5000, 228000, 1000000]),
                           "ripetizione segnali 4 codici,    %d,    %d" % (p, p + 5000),
                           "progressiva chilometrica due,    %d,    %d,    1" % (p, p)])
    k = rng.choice(["velocita", "aderenza", "segnale", "segnale", "rallentamento",
                    "rallentamento", "abbattimento", "stazione", "general"])
    if k == "velocita":
        return "%s,  %d,   %d" % (k, p, rng.choice([0, 5, 30, 140, 182, 1275, 1280]))
    if k == "aderenza":
        return "%s,  %d,   %d" % (k, p, rng.choice([0, 70, 80, 255, 256, 300]))
    if k == "segnale":
        sx, dx = rng.choice([1, 2, 3]), rng.choice([1, 2])
        return "%s,  %d,   %d, 4, %d,  %d, 0,    %d,  2,%d,%d, %d" % (
            k, p, sx, rng.randint(0, 1), rng.randint(0, 1), dx, rng.randint(0, 1),
            rng.randint(0, 1), rng.choice([0, 1, 100, 101, 220, 255, 300]))
    if k == "rallentamento":
        return "%s,   %d,    %d,  %d, %d,  %d,  %d" % (
            k, p, rng.choice([10, 30, 60, 80]), rng.choice([0, 50, 200, 1000, 1500, 20000]),
            rng.randint(0, 1), rng.choice([0, 1, 1]), rng.choice([0, 0, 5, 30]))
    if k == "abbattimento":
        return "%s,   %d,   %d" % (k, p, rng.choice([-5, 0, 180, 270, 280, 70000]))
    if k == "stazione":
        return "%s,  %d, %d,  %d,  0, %d, %d,  1,1,0,  4,1,1,    0,  %d, %d, %d, NUOVA-%d" % (
            k, p, rng.choice([0, 2, 4, 5, 6, 7, 8, 12, 22, 25, 27, 300]),
            rng.choice([0, 100, 300, 500, 600, 650, 5000]), rng.randint(0, 1),
            rng.randint(0, 1), rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59),
            rng.randint(0, 99))
    return rng.choice(["numero vetture,    %d" % rng.choice([0, 1, 300]),
                       "percentuale massa frenata,    %d" % rng.choice([0, 100, 256]),
                       "sabbia,    %d" % rng.choice([0, 40000]),
                       "orologio,    %d  %d  %d" % (rng.randint(0, 30), rng.randint(0, 70),
                                                    rng.randint(0, 70))])


def misspell(rng, word, which):
    letters = [i for i, c in enumerate(word) if chr(c).isalpha()]
    k = rng.choice(["swap", "drop", "double", "replace", "upper", "prefix", "suffix", "hyphen",
                    "other", "blank"])
    if k == "swap" and len(letters) >= 2:
        i = rng.choice(letters[:-1])
        w = bytearray(word)
        w[i], w[i + 1] = w[i + 1], w[i]
        return k, bytes(w)
    if k == "drop" and letters:
        i = rng.choice(letters)
        return k, word[:i] + word[i + 1:]
    if k == "double" and letters:
        i = rng.choice(letters)
        return k, word[:i + 1] + word[i:]
    if k == "replace" and letters:
        i = rng.choice(letters)
        return k, word[:i] + bytes([rng.choice(b"abcdefghijklmnopqrstuvwxyz")]) + word[i + 1:]
    if k == "upper":
        return k, word.upper() if rng.random() < 0.7 else word.capitalize()
    if k == "prefix":
        return k, rng.choice([b"nuova ", b"x", b"-", b"[", b" "]) + word
    if k == "suffix":
        return k, word + rng.choice([b"x", b" ", b"s", b"4", b"-", b"]"])
    if k == "hyphen" and len(word) > 1:
        i = rng.randint(1, len(word) - 1)
        return k, word[:i] + b"-" + word[i:]
    if k == "blank" and len(word) > 1:
        i = rng.randint(1, len(word) - 1)
        return k, word[:i] + b" " + word[i:]
    return "other", rng.choice(LINE_KEYWORDS if rng.random() < 0.5 else TRAIN_KEYWORDS)


def alter(rng, lines, which):
    kinds = ["number"] * 5 + ["delete"] * 2 + ["duplicate"] * 2 + ["swap"] * 2 + \
        ["misspell"] * 2 + ["record"] * 3 + ["collide"] * 2 + \
        ["stray", "dropfield", "lineend", "section", "badnumber", "truncate", "repeat"]
    if rng.random() < 0.01:
        return "missing file", None
    k = rng.choice(kinds)
    n = len(lines)
    if n == 0:
        lines.append([b"[fine]", CRLF])
        return "empty file: added [fine]", lines
    if k == "number" or k == "badnumber":
        i = pick(rng, lines, lambda p: NUM.search(p) is not None)
        if i is None:
            return "number: no number left", lines
        ms = list(NUM.finditer(lines[i][0]))
        m = rng.choice(ms)
        if k == "number":
            sub, new = new_number(rng, int(m.group()))
        else:
            sub, new = "bad", rng.choice(BADNUM)
        p = lines[i][0]
        lines[i][0] = p[:m.start()] + new + p[m.end():]
        return "number (%s) L%d %s -> %s" % (sub, i + 1, show(m.group()), show(new)), lines
    if k == "collide":   # a record moved onto (or next to) the position of another one
        positioned = lambda p: re.match(rb"\s*[A-Za-z_]+\s*,\s*-?[0-9]+", p) is not None
        i = pick(rng, lines, positioned)
        j = pick(rng, lines, positioned)
        if i is None:
            return "collide: no record left", lines
        target = int(NUM.search(lines[j][0]).group()) + rng.choice([0, 0, 0, -50, 50, -100, 100])
        m = NUM.search(lines[i][0])
        p = lines[i][0]
        lines[i][0] = p[:m.start()] + str(target).encode() + p[m.end():]
        return "collide L%d onto L%d at %d" % (i + 1, j + 1, target), lines
    if k == "repeat":   # many copies of a record, positions spread: the tables' limits
        i = pick(rng, lines, lambda p: NUM.search(p) is not None)
        if i is None:
            return "repeat: no record left", lines
        times, step = rng.choice([10, 30, 60, 90]), rng.choice([0, 50, 400, 1000, 2000])
        m = NUM.search(lines[i][0])
        p, v = lines[i][0], int(m.group())
        copies = [[p[:m.start()] + str(v + (t + 1) * step).encode() + p[m.end():], CRLF]
                  for t in range(times)]
        lines[i + 1:i + 1] = copies
        return "repeat L%d %d times, %d m apart" % (i + 1, times, step), lines
    if k == "delete":
        i = pick(rng, lines)
        del lines[i]
        return "delete L%d" % (i + 1), lines
    if k == "duplicate":
        i = pick(rng, lines)
        j = i + 1 if rng.random() < 0.6 else rng.randint(0, n)
        lines.insert(j, list(lines[i]))
        return "duplicate L%d at L%d" % (i + 1, j + 1), lines
    if k == "swap":
        i = pick(rng, lines)
        j = min(n - 1, i + 1) if rng.random() < 0.5 else rng.randrange(n)
        lines[i][0], lines[j][0] = lines[j][0], lines[i][0]
        return "swap L%d L%d" % (i + 1, j + 1), lines
    if k == "misspell":
        i = pick(rng, lines, lambda p: re.search(rb"[A-Za-z]", p.split(b",", 1)[0]) is not None)
        if i is None:
            return "misspell: no keyword left", lines
        parts = lines[i][0].split(b",", 1)
        sub, new = misspell(rng, parts[0], which)
        lines[i][0] = b",".join([new] + parts[1:])
        return "misspell (%s) L%d %s -> %s" % (sub, i + 1, show(parts[0]), show(new)), lines
    if k == "record":
        rec = new_record(rng, lines, which).encode("latin-1")
        j = rng.randint(1, n)
        lines.insert(j, [rec, CRLF])
        return "record at L%d %s" % (j + 1, show(rec, 60)), lines
    if k == "stray":
        t = rng.choice(STRAY)
        j = rng.randint(0, n)
        lines.insert(j, [t, CRLF])
        return "stray text at L%d %s" % (j + 1, show(t)), lines
    if k == "dropfield":
        i = pick(rng, lines, lambda p: b"," in p)
        if i is None:
            return "dropfield: no field left", lines
        fields = lines[i][0].split(b",")
        f = rng.randrange(len(fields))
        del fields[f]
        lines[i][0] = b",".join(fields)
        return "drop field %d of L%d" % (f + 1, i + 1), lines
    if k == "lineend":
        i = pick(rng, lines)
        e = rng.choice([b"\n", b"\n", b"\n", b"\r", b"", b"\r\r\n", b"\n\r"])
        lines[i][1] = e
        return "line end of L%d -> %s" % (i + 1, show(e)), lines
    if k == "section":
        h = rng.choice(HEADERS)
        if rng.random() < 0.3:
            i = pick(rng, lines)
            lines[i][0] = lines[i][0] + b", " + h
            return "section text %s after L%d" % (show(h), i + 1), lines
        j = rng.randint(0, n)
        lines.insert(j, [h, CRLF])
        return "section text %s at L%d" % (show(h), j + 1), lines
    # truncate
    data = join(lines)
    r = rng.random()
    if r < 0.3:
        cut = len(data) - rng.randint(1, 12)              # loses the [fine] line or part of it
    elif r < 0.5:
        cut = rng.choice([0, 1, 5, 12, 40, 100, 300])     # very short file
    else:
        cut = rng.randrange(len(data) + 1)
    cut = max(0, cut)
    return "truncate to %d of %d bytes" % (cut, len(data)), split(data[:cut])


def overlap_tunnels(rng, lines):
    """Tunnel records over or beside the tunnels there: markers out of step with the runs, types
    turned to 3 by the 150 m rule, cleared by 0 or stored past 255."""
    done = []
    for _ in range(rng.randint(1, 4)):
        at = [i for i, (p, _) in enumerate(lines) if p.lstrip().lower().startswith(b"montagna")]
        if not at:
            return "tunnels: no tunnel left", lines
        i = rng.choice(at)
        nums = [int(m.group()) for m in NUM.finditer(lines[i][0])]
        if len(nums) < 2:
            continue
        start = nums[rng.randint(0, 1)] + rng.choice([-200, -150, -100, -50, 0, 50, 100, 150, 200,
                                                      300, rng.randint(-200, 300)])
        end = start + rng.choice([0, 50, 100, 150, 400, 1000, 3000, -100])
        kind = rng.choice([-20, -5, 0, 1, 2, 3, 10, 11, 12, 13, 20, 255, 265, 266, 300])
        j = i + rng.choice([0, 1])
        lines.insert(j, [b"montagna, %d, %d, %d" % (start, end, kind), CRLF])
        done.append("L%d %d %d %d" % (j + 1, start, end, kind))
    return "tunnels " + ", ".join(done), lines


def main():
    srcs = {}
    for which, name in (("line", LINE_SRC), ("train", TRAIN_SRC)):
        with open(os.path.join(base, name), "rb") as f:
            srcs[which] = f.read()
    others = {}
    for name in sorted(os.listdir(base)):
        if name not in (LINE_SRC, TRAIN_SRC):
            with open(os.path.join(base, name), "rb") as f:
                others[name] = f.read()
    for case in range(count):
        rng = random.Random("%d/%d" % (seed, case))
        targets = []
        if case > 0:
            targets = [["line"], ["train"], ["line", "train"]][(case - 1) % 3]
        d = os.path.join(out, "%04d" % case)
        os.makedirs(d)
        for name, data in others.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)
        what = []
        for which, name in (("line", LINE_SRC), ("train", TRAIN_SRC)):
            data = srcs[which]
            if which in targets:
                lines = split(data)
                done = []
                for _ in range(rng.randint(1, 5)):
                    desc, lines = alter(rng, lines, which)
                    done.append(desc)
                    if lines is None:
                        break
                tunnel_rng = random.Random("%d/%d/tunnels" % (seed, case))
                if which == "line" and lines is not None and tunnel_rng.random() < 0.2:
                    desc, lines = overlap_tunnels(tunnel_rng, lines)
                    done.append(desc)
                what.append("%s: %s" % (which, "; ".join(done)))
                data = None if lines is None else join(lines)
            if data is not None:
                with open(os.path.join(d, name), "wb") as f:
                    f.write(data)
        with open(os.path.join(out, "%04d.what" % case), "w") as f:
            f.write(("case %d, seed %d: " % (case, seed)) +
                    (" | ".join(what) if what else "default sources") + "\n")


main()
PYEOF

# ---------------------------------------------------------------------------------------------
# What one program does for one case. Runs in the background, one per program, in a subshell of
# its own: $D is its scratch root, $src the case's scenario directory. Each command gets
# $cmd_timeout seconds of CPU time (ulimit -t) and no stdin, so that a hang cannot stall the run.
shopt -s nullglob dotglob

run() {   # id, then the command: results in $D/res/ID.rc, ID.out, ID.err
  local id=$1
  shift
  "$@" </dev/null >"$D/res/$id.out" 2>"$D/res/$id.err"
  echo $? >"$D/res/$id.rc"
}

names_of() {   # id dir: the names of the files in dir after the command id
  local f=("$2"/*)
  if [ ${#f[@]} -gt 0 ]; then printf '%s\n' "${f[@]##*/}"; fi >"$D/res/$1.files"
}

side() {   # bin D src case dirpattern
  local bin=$1 D=$2 src=$3 case=$4 pattern=$5 dirs
  ulimit -t "$cmd_timeout"
  dirs=("$D/res" "$D/plan" "$D/noplan")
  [ "$outputs_only" -ne 0 ] || dirs+=("$D/check")
  [ "$case" -ne 0 ] || dirs+=("$D/sources" "$D/buildrun")
  mkdir -p -- "${dirs[@]}"
  if [ "$case" -eq 0 ]; then
    run sources "$bin" sources "$D/sources"
    names_of sources "$D/sources"
    run buildrun "$bin" --dir "$D/buildrun"
    names_of buildrun "$D/buildrun"
  fi
  cp -- "$src"/* "$D/plan/"
  cp -- "$src"/* "$D/noplan/"
  run compile "$bin" compile "$D/plan" "${compile_flags[@]}"
  names_of compile "$D/plan"
  run compile-noplan "$bin" compile "$D/noplan" --no-plan "${compile_flags[@]}"
  names_of compile-noplan "$D/noplan"
  if [ "$outputs_only" -eq 0 ]; then
    cp -- "$src"/* "$D/check/"
    run check "$bin" check "$D/check"
    names_of check "$D/check"
    local out id every
    for out in "$SIM_OUT" "$GRID_OUT" "$LINE_OUT"; do
      every=()
      case "$out" in
        "$SIM_OUT") id=dump-sim ;;
        "$GRID_OUT") id=dump-grid ;;
        *) id=dump-line; every=(--every 1000) ;;   # the full plan is 235001 lines: thinned
      esac
      if [ -e "$D/plan/$out" ]; then
        run "$id" "$bin" dump "$D/plan/$out" "${every[@]}"
        run "$id-json" "$bin" dump "$D/plan/$out" --json "${every[@]}"
      fi
    done
    run plot "$bin" plot "$D/plan" -o "$D/plan/plot.svg"
    names_of plot "$D/plan"
    run plot-noplan "$bin" plot "$D/noplan" -o "$D/noplan/plot.svg"
    names_of plot-noplan "$D/noplan"
    # Messages name files by the path given on the command line: the scratch root becomes <DIR>.
    sed -i -e "s/$pattern/<DIR>/g" -- "$D"/res/*.out "$D"/res/*.err
  fi
}

sed_literal() { printf '%s\n' "$1" | sed -e 's/[]\/$*.^[]/\\&/g'; }

# ---------------------------------------------------------------------------------------------
# Comparison. A case whose two trees (results and directories) are equal byte for byte passes
# at once (diff -rq, one process); otherwise every command's results and every file are compared
# one by one with cmp to say what differed. The compare functions leave their findings in BAD.
join_by() {   # separator, items
  local sep=$1 out=${2-} item
  shift
  [ $# -eq 0 ] || shift
  for item in "$@"; do out+="$sep$item"; done
  printf '%s' "$out"
}

same_file() {   # a b: both absent, or both present and equal byte for byte
  if [ -e "$1" ] || [ -e "$2" ]; then
    [ -e "$1" ] && [ -e "$2" ] && cmp -s -- "$1" "$2"
  fi
}

compare_tree() {   # dir: every file left in old/dir and new/dir; the names of those that differ
  local a="$case_dir/old/$1" b="$case_dir/new/$1" f n
  BAD=()
  for f in "$a"/*; do
    n=${f##*/}
    if [ ! -e "$b/$n" ]; then BAD+=("$n only with OLD")
    elif ! cmp -s -- "$f" "$b/$n"; then BAD+=("$n differs")
    fi
  done
  for f in "$b"/*; do
    n=${f##*/}
    [ -e "$a/$n" ] || BAD+=("$n only with NEW")
  done
}

compare_binaries() {   # old_dir new_dir: the three binary outputs only
  local a=$1 b=$2 f
  BAD=()
  for f in "${BINARIES[@]}"; do
    if [ -e "$a/$f" ] && [ ! -e "$b/$f" ]; then BAD+=("$f only with OLD")
    elif [ ! -e "$a/$f" ] && [ -e "$b/$f" ]; then BAD+=("$f only with NEW")
    elif [ -e "$a/$f" ] && ! cmp -s -- "$a/$f" "$b/$f"; then BAD+=("$f")
    fi
  done
}

read_rc() {   # file: its exit status into RC ("none" when the command did not run)
  RC=none
  [ ! -e "$1" ] || read -r RC <"$1"
}

label_of() {
  case "$1" in
    sources) LABEL="sources DIR" ;;
    buildrun) LABEL="--dir DIR" ;;
    compile) LABEL="compile DIR" ;;
    compile-noplan) LABEL="compile DIR --no-plan" ;;
    check) LABEL="check DIR" ;;
    dump-sim) LABEL="dump .sim" ;;
    dump-sim-json) LABEL="dump .sim --json" ;;
    dump-grid) LABEL="dump .dat" ;;
    dump-grid-json) LABEL="dump .dat --json" ;;
    dump-line) LABEL="dump _linea.dat --every 1000" ;;
    dump-line-json) LABEL="dump _linea.dat --every 1000 --json" ;;
    plot) LABEL="plot DIR -o plot.svg" ;;
    plot-noplan) LABEL="plot DIR -o plot.svg (after compile --no-plan)" ;;
    *) LABEL=$1 ;;
  esac
}

differences() {   # c: fills DIFFS with one entry per command that differed
  local c=$1 A="$case_dir/old/res" B="$case_dir/new/res" id ra rb what d f ids dirs
  local -A files=()
  DIFFS=()
  ids=()
  [ "$c" -ne 0 ] || ids+=(sources buildrun)
  ids+=(compile compile-noplan)
  if [ "$outputs_only" -eq 0 ]; then
    ids+=(check dump-sim dump-sim-json dump-grid dump-grid-json dump-line dump-line-json plot
          plot-noplan)
    # Each file left that differs, put to the command that wrote it.
    dirs=(plan noplan check)
    [ "$c" -ne 0 ] || dirs+=(sources buildrun)
    for d in "${dirs[@]}"; do
      compare_tree "$d"
      for f in "${BAD[@]}"; do
        case "$d:$f" in
          plan:plot.svg*) id=plot ;;
          plan:*) id=compile ;;
          noplan:plot.svg*) id=plot-noplan ;;
          noplan:*) id=compile-noplan ;;
          *) id=$d ;;
        esac
        files[$id]+="${files[$id]:+, }file $f"
      done
    done
  fi
  for id in "${ids[@]}"; do
    what=()
    read_rc "$A/$id.rc"; ra=$RC
    read_rc "$B/$id.rc"; rb=$RC
    [ "$ra" = "$rb" ] || what+=("exit status $ra vs $rb")
    if [ "$outputs_only" -eq 0 ]; then
      same_file "$A/$id.out" "$B/$id.out" || what+=("stdout")
      same_file "$A/$id.err" "$B/$id.err" || what+=("stderr")
      same_file "$A/$id.files" "$B/$id.files" || what+=("names of the files in DIR after it")
      [ -z "${files[$id]:-}" ] || what+=("${files[$id]}")
    else
      BAD=()
      case "$id" in
        compile) compare_binaries "$case_dir/old/plan" "$case_dir/new/plan" ;;
        compile-noplan) compare_binaries "$case_dir/old/noplan" "$case_dir/new/noplan" ;;
        buildrun) compare_binaries "$case_dir/old/buildrun" "$case_dir/new/buildrun" ;;
      esac
      [ ${#BAD[@]} -eq 0 ] || what+=("binary output $(join_by ', ' "${BAD[@]}")")
    fi
    if [ ${#what[@]} -gt 0 ]; then
      label_of "$id"
      DIFFS+=("$LABEL: $(join_by ', ' "${what[@]}")")
    fi
  done
}

# ---------------------------------------------------------------------------------------------
mkdir -p "$work/base" "$work/cases"
if ! "$old_bin" sources "$work/base" >"$work/base.log" 2>&1 ||
   [ ! -s "$work/base/$LINE_SRC" ] || [ ! -s "$work/base/$TRAIN_SRC" ]; then
  echo "compare-outputs.sh: '$old_bin sources DIR' did not write the default sources:" >&2
  cat "$work/base.log" >&2
  exit 2
fi
python3 "$work/alter.py" "$seed" "$count" "$work/base" "$work/cases" || {
  echo "compare-outputs.sh: making the altered sources failed" >&2
  exit 2
}

mode="all results"
[ "$outputs_only" -eq 0 ] || mode="exit statuses of compile and binary outputs only"
echo "compare-outputs: OLD $old_bin"
echo "compare-outputs: NEW $new_bin"
echo "compare-outputs: $count cases, seed $seed, comparing $mode"

passed=0
failed=0
kept=0
not_kept=0
declare -A old_rc_count=() new_rc_count=()
case_dir="$work/case"
old_pattern=$(sed_literal "$case_dir/old")
new_pattern=$(sed_literal "$case_dir/new")
start=$SECONDS

for ((c = 0; c < count; c++)); do
  printf -v cs '%04d' "$c"
  src="$work/cases/$cs"
  rm -rf -- "$case_dir"
  side "$old_bin" "$case_dir/old" "$src" "$c" "$old_pattern" &
  pid_old=$!
  side "$new_bin" "$case_dir/new" "$src" "$c" "$new_pattern" &
  pid_new=$!
  wait "$pid_old"
  wait "$pid_new"
  pid_old=
  pid_new=

  read_rc "$case_dir/old/res/compile.rc"; old_rc_count[$RC]=$(( ${old_rc_count[$RC]:-0} + 1 ))
  read_rc "$case_dir/new/res/compile.rc"; new_rc_count[$RC]=$(( ${new_rc_count[$RC]:-0} + 1 ))
  # Which source errors the cases reach: the codes OLD's `compile` reports, once per case.
  grep -o 'error [0-9][0-9]*' -- "$case_dir/old/res/compile.err" 2>/dev/null | sort -u >>"$work/codes"

  if [ "$outputs_only" -eq 0 ]; then
    # Everything, byte for byte: the results of every command and every file left.
    if diff -rq --no-dereference -- "$case_dir/old" "$case_dir/new" >"$work/diff.txt" 2>&1; then
      DIFFS=()
    else
      differences "$c"
      # Whatever the closer look did not name (a subdirectory, a special file) is still reported.
      [ ${#DIFFS[@]} -gt 0 ] || DIFFS=("diff -rq: $(head -n 1 "$work/diff.txt")")
    fi
  else
    differences "$c"
  fi
  if [ ${#DIFFS[@]} -eq 0 ]; then
    passed=$((passed + 1))
    continue
  fi
  failed=$((failed + 1))
  line="case $c: $(join_by '; ' "${DIFFS[@]}")"
  echo "$line"
  if [ "$kept" -lt "$keep_max" ]; then
    if [ -z "$keep_dir" ]; then
      keep_dir=$(mktemp -d "${TMPDIR:-/tmp}/compare-outputs-kept.XXXXXX")
    fi
    k="$keep_dir/case-$cs"
    rm -rf -- "$k"
    mv -- "$case_dir" "$k"
    cp -r -- "$src" "$k/sources"
    cp -- "$work/cases/$cs.what" "$k/what.txt"
    {
      echo "$line"
      echo "what.txt: how the sources were altered; sources/: the scenario given to both programs"
      echo "old/: $old_bin"
      echo "new/: $new_bin"
      echo "in each: plan/ (compile, plot), noplan/ (compile --no-plan, plot), check/ (check)"
      [ "$c" -ne 0 ] || echo "and for case 0 sources/ (sources DIR) and buildrun/ (--dir DIR);"
      echo "res/ holds each command's ID.rc, ID.out, ID.err (scratch path shown as <DIR>) and"
      echo "ID.files (the names of the files in its directory after it)"
    } >"$k/README.txt"
    kept=$((kept + 1))
  else
    not_kept=$((not_kept + 1))
  fi
done
rm -rf -- "$case_dir"

rc_summary() {   # name of an associative array of counts
  local -n counts=$1
  local r out=()
  for r in $(printf '%s\n' "${!counts[@]}" | sort -n); do
    out+=("exit $r: ${counts[$r]}")
  done
  join_by ', ' "${out[@]}"
}
echo "compile exit statuses with OLD: $(rc_summary old_rc_count)"
echo "compile exit statuses with NEW: $(rc_summary new_rc_count)"
codes=$(sort "$work/codes" 2>/dev/null | uniq -c | sort -k3n |
        awk '{ printf "%s%s (%d)", sep, $3, $1; sep = ", " }')
echo "source errors reported by compile with OLD, code (cases): ${codes:-none}"
echo "time: $((SECONDS - start)) s"
if [ "$kept" -gt 0 ]; then
  echo "differing cases kept in $keep_dir ($kept kept, $not_kept more not kept, see --keep-max)"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
