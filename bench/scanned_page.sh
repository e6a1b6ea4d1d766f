#!/usr/bin/env bash
# A scanned script page drawn at the interactive width, ours beside mutool's
# (Debian's mupdf-tools) on the same page.
#
# The page is made the way scans come: a demo script page rasterised grey by
# Ghostscript, turned and grained by ImageMagick, saved as JPEG and wrapped
# back into a picture-only PDF by Ghostscript's viewjpeg.ps (ImageMagick's
# PDF writer is blocked by policy on Debian). Then, medians over the runs:
#   ours, in the process   tallowmark --pdf-test scan.pdf WIDTH RUNS: the
#                          thread's CPU time and the wall time of draw and
#                          PNG encode, the cache emptied between rounds
#   ours, whole process    tallowmark --render-page scan.pdf 1 out.png WIDTH
#   mutool, whole process  mutool draw -q -w WIDTH -c gray -o out.png scan.pdf 1
#   mutool, PGM            the same to an uncompressed PGM: its drawing alone
# CPU time of a process is user + sys from bash's `times`, wall time from
# EPOCHREALTIME.
#
# Usage: bench/scanned_page.sh [-d DPI] [-w WIDTH] [-n RUNS] [-p PAGE] [FOLDER]
#   DPI 150, WIDTH 1600, RUNS 15 (at most 1000), PAGE 2 of the demo script;
#   FOLDER keeps the demo, the scan and the images (default: a temporary
#   folder, removed at the end).
#   TALLOWMARK names the program (default: build/tallowmark).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tallowmark=${TALLOWMARK:-$repo/build/tallowmark}
dpi=150 width=1600 runs=15 page=2 folder=
while getopts "d:w:n:p:h" option; do
  case $option in
    d) dpi=$OPTARG ;;
    w) width=$OPTARG ;;
    n) runs=$OPTARG ;;
    p) page=$OPTARG ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
for number in "$dpi" "$width" "$runs" "$page"; do
  [[ $number =~ ^[1-9][0-9]{0,4}$ ]] || { echo "scanned_page: not a count: $number" >&2; exit 2; }
done
# The program draws each page at most 1000 times in one report; both sides get the same count.
[ "$runs" -le 1000 ] || { echo "scanned_page: at most 1000 runs" >&2; exit 2; }
[ -x "$tallowmark" ] || { echo "scanned_page: no program at $tallowmark (set TALLOWMARK)" >&2; exit 2; }
tallowmark=$(readlink -f "$tallowmark")
for tool in gs convert identify pdftotext mutool; do
  if ! command -v "$tool" >/dev/null; then
    echo "scanned_page: $tool missing (scripts/install-deps installs it)" >&2
    exit 2
  fi
done

if [ $# -gt 0 ]; then
  folder=$1
  mkdir -p "$folder"
else
  folder=$(mktemp -d "${TMPDIR:-/tmp}/scanned-page.XXXXXX")
  trap 'rm -rf "$folder"' EXIT
fi
cd "$folder"

# --- the scan -----------------------------------------------------------------
rm -rf demo
"$tallowmark" --make-demo demo >/dev/null
source_pdf=$(find demo -name '*.pdf' | head -n 1)
gs -q -dSAFER -dBATCH -dNOPAUSE -dFirstPage="$page" -dLastPage="$page" -sDEVICE=pnggray -r"$dpi" \
  -o grey.png "$source_pdf"
# A page lies a little crooked on the glass; the sensor's grain, the same each run.
convert grey.png -background white -rotate 1.5 -seed 1 -attenuate 0.5 +noise Gaussian -quality 92 scan.jpg
read -r pixels_wide pixels_high < <(identify -format '%w %h\n' scan.jpg)
points() { awk -v p="$1" -v d="$dpi" 'BEGIN { printf "%.4f", p * 72 / d }'; }
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dFIXEDMEDIA \
  -dDEVICEWIDTHPOINTS="$(points "$pixels_wide")" -dDEVICEHEIGHTPOINTS="$(points "$pixels_high")" \
  --permit-file-read=scan.jpg -o scan.pdf viewjpeg.ps -c "(scan.jpg) viewJPEG showpage"
if pdftotext scan.pdf - | grep -q '[^[:space:]]'; then
  echo "scanned_page: scan.pdf has a text layer" >&2
  exit 1
fi
echo "scan: page $page of the demo at $dpi dpi, ${pixels_wide}x${pixels_high} px, drawn $width px wide"

# --- timing -------------------------------------------------------------------
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
seconds() { awk -F'[ms]' '{ print $1 * 60 + $2 }' <<<"$1"; }
# Runs the command; prints its CPU time (user + sys) and wall time in ms, and
# the page time mutool's `-s t` prints (0 for a command that prints none).
timed() {
  local start=$EPOCHREALTIME
  (
    "$@" >run.out 2>&1
    times
  ) | {
    read -r _ _
    read -r user sys
    awk -v u="$(seconds "$user")" -v s="$(seconds "$sys")" -v a="$start" -v b="$EPOCHREALTIME" \
      'BEGIN { printf "%.1f %.1f ", (u + s) * 1000, (b - a) * 1000 }'
  }
  awk '/^page .* [0-9]+ms$/ { page = $NF + 0 } END { print page + 0 }' run.out
}
# Medians of `runs` runs of the command: "cpu wall page".
medians() {
  local samples
  samples=$(for _ in $(seq "$runs"); do timed "$@"; done)
  for field in 1 2 3; do cut -d' ' -f"$field" <<<"$samples" | median; done | paste -sd' '
}

report=$("$tallowmark" --pdf-test scan.pdf "$width" "$runs")
ours_cpu=$(awk '/^suoritinaika:/ { print $2 }' <<<"$report")
ours_wall=$(awk '/^seinakelloaika:/ { print $2 }' <<<"$report")
if [ -z "$ours_cpu" ] || [ -z "$ours_wall" ]; then
  printf 'scanned_page: unexpected report:\n%s\n' "$report" >&2
  exit 1
fi
ours_png=$(awk '/^sivu +1 / { print $5 }' <<<"$report")
read -r process_cpu process_wall _ < <(medians "$tallowmark" --render-page scan.pdf 1 ours.png "$width")
read -r mutool_cpu mutool_wall mutool_page < <(medians mutool draw -q -s t -w "$width" -c gray -o mutool.png scan.pdf 1)
read -r pgm_cpu pgm_wall pgm_page < <(medians mutool draw -q -s t -w "$width" -c gray -o mutool.pgm scan.pdf 1)
mutool_png=$(awk '{ printf "%.1f", $1 / 1024 }' < <(wc -c <mutool.png))

printf '\nmedians of %d runs, ms              CPU     wall\n' "$runs"
printf 'ours, draw + encode in process   %7.1f  %7.1f   (PNG %s kB)\n' "$ours_cpu" "$ours_wall" "$ours_png"
printf 'ours, whole process              %7.1f  %7.1f\n' "$process_cpu" "$process_wall"
printf 'mutool, whole process (PNG)      %7.1f  %7.1f   (its page time %s; PNG %s kB)\n' \
  "$mutool_cpu" "$mutool_wall" "$mutool_page" "$mutool_png"
printf 'mutool, whole process (PGM)      %7.1f  %7.1f   (its page time %s)\n' "$pgm_cpu" "$pgm_wall" "$pgm_page"
awk -v a="$process_cpu" -v b="$mutool_cpu" -v c="$process_wall" -v d="$mutool_wall" \
  'BEGIN { printf "ours / mutool, whole process     %7.2f  %7.2f\n", a / b, c / d }'
awk -v a="$ours_wall" -v b="$mutool_page" \
  'BEGIN { printf "ours / mutool, page time                  %7.2f   (wall, in the process)\n", a / b }'
if awk -v cpu="$ours_cpu" 'BEGIN { exit !(cpu <= 60) }'; then
  echo "within 60 ms of CPU for draw and encode"
else
  echo "OVER 60 ms of CPU for draw and encode"
fi
