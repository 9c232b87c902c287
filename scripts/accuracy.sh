#!/usr/bin/env bash
# Measures recognition on the real face photographs of the shared test data with mirava-cli eval, for every
# framing, with and without rehearsal, one and two memorised pictures per person, each beside the
# nearest-neighbour baseline of the same run, and prints the table of docs/accuracy.md.
#   bash scripts/accuracy.sh [FACES-REAL-FOLDER] > table.md
set -euo pipefail
cd "$(dirname "$0")/.."
faces=${1:-../shared/testdata/faces-real}
cli=build/bin/mirava-cli
[ -x "$cli" ] || bash scripts/build.sh >&2
[ -d "$faces" ] || { echo "no face photographs in $faces" >&2; exit 1; }
python3 - "$cli" "$faces" <<'PY'
import json, subprocess, sys
cli, faces = sys.argv[1], sys.argv[2]
print("| set | framing | memorised | rehearsal | network: not memorised | network: memorised | nearest: not memorised | nearest: memorised | network / nearest | passes (most) |")
print("|---|---|---|---|---|---|---|---|---|---|")
for db in ("yale", "faces94"):
    for framing in ("corner", "fit", "face"):
        for gallery in (["--per-person", "1"], ["--per-person", "1", "--persons", "10"], ["--per-person", "2", "--persons", "10"]):
            for rehearse in (True, False):
                args = [cli, "eval", f"{faces}/{db}", f"{faces}/{db}", "--json", "--baseline", "nearest", "--framing", framing] + gallery
                if not rehearse:
                    args.append("--no-rehearse")
                run = subprocess.run(args, capture_output=True, text=True)
                if run.returncode != 0:
                    sys.exit(f"{' '.join(args)}: {run.stderr.strip()}")
                s = json.loads(run.stdout)["summary"]
                b = s["baseline"]
                fresh, mem = s["fresh_correct"], s["memorised_correct"]
                nn_fresh = round(b["fresh_accuracy"] * s["fresh_probes"])
                nn_mem = round(b["memorised_accuracy"] * s["memorised_pictures"])
                ratio = s["fresh_accuracy"] / b["fresh_accuracy"] if b["fresh_accuracy"] else 0
                who = f'{s["persons"]} persons x {s["per_person"]}'
                passes = str(s["rehearsal"]["passes_most"]) + ("" if s["rehearsal"]["converged"] else " (bound)") if rehearse else "-"
                faces_found = ""
                if framing == "face":
                    f = s["framing"]
                    faces_found = f' (faces {f["faces_found"]}/{f["faces_found"] + f["fallbacks"]})'
                pct = lambda a, n: f"{a}/{n} = {100 * a / n:.1f} %" if n else "-"
                print(f'| {db} | {framing}{faces_found} | {who} | {"yes" if rehearse else "no"} | {pct(fresh, s["fresh_probes"])} | '
                      f'{pct(mem, s["memorised_pictures"])} | {pct(nn_fresh, s["fresh_probes"])} | {pct(nn_mem, s["memorised_pictures"])} | '
                      f'{ratio:.2f} | {passes} |', flush=True)
PY
