# shellcheck shell=bash
# Charts of the size sweeps for scripts/bench --plot: reads the "sweep" lines
# that the benchmark programs append to the results file (bench/ratio_main.cpp),
# writes a data file and a gnuplot script per chart under DIR/plot, the charts
# as DIR/tree.png, DIR/crc32.png and DIR/codec.png, and the plotted figures as
# markdown tables to standard output.

# The processor and its cores, for the charts' titles.
plot_machine() {
    local model
    model=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
    model=${model:-an unknown processor}
    if grep -qw avx512f /proc/cpuinfo; then model="$model with AVX-512"; fi
    echo "$model, $(nproc) cores"
}

# sweep_data RESULTS COUNTER SCALE PREFIX|PEER...: one line per size (the
# numeric path component after PREFIX), one column per PREFIX|PEER, from the
# rows named PREFIX/SIZE/PEER. SCALE > 0 divides the rate by SCALE (bytes per
# second to GB/s: 1e9); SCALE < 0 turns the rate into -SCALE over it (items
# per second to nanoseconds per item: -1e9). A missing figure is NaN, which
# gnuplot leaves out.
sweep_data() {
    local results=$1 counter=$2 scale=$3
    shift 3
    awk -F'\t' -v counter="$counter" -v scale="$scale" -v columns="$*" '
        BEGIN { n = split(columns, column, " ") }
        $1 == "sweep" && $3 == counter {
            for (c = 1; c <= n; ++c) {
                split(column[c], wanted, "|")
                if (index($2, wanted[1]) != 1) continue
                split(substr($2, length(wanted[1]) + 1), part, "/")
                if (part[2] != wanted[2]) continue
                value[part[1] + 0, c] = scale > 0 ? $4 / scale : -scale / $4
                if (!((part[1] + 0) in seen)) { seen[part[1] + 0] = 1; sizes[++count] = part[1] + 0 }
            }
        }
        END {
            for (i = 2; i <= count; ++i)  # few sizes: insertion sort
                for (j = i; j > 1 && sizes[j - 1] > sizes[j]; --j) {
                    t = sizes[j]; sizes[j] = sizes[j - 1]; sizes[j - 1] = t
                }
            for (i = 1; i <= count; ++i) {
                line = sizes[i]
                for (c = 1; c <= n; ++c)
                    line = line " " ((sizes[i], c) in value ? sprintf("%.6g", value[sizes[i], c]) : "NaN")
                print line
            }
        }' "$results"
}

# data_table DATA SIZE-UNIT HEADER...: the data file as a markdown table; the
# sizes in bytes ("bytes") or in keys ("keys"), figures to three digits.
data_table() {
    local data=$1 unit=$2
    shift 2
    local header="|" rule="|" column
    for column in "$@"; do
        header="$header $column |"
        rule="$rule---:|"
    done
    echo "$header"
    echo "${rule/---:/---}"
    awk -v unit="$unit" '
        function size(n,   k) {
            if (unit == "keys") {
                if (n >= 1048576) return n / 1048576 "M"
                if (n >= 1024) return n / 1024 "K"
                return n
            }
            if (n >= 1048576) return n / 1048576 " MiB"
            if (n >= 1024) return n / 1024 " KiB"
            return n " B"
        }
        function figure(v) {
            if (v == "NaN") return "—"
            if (v >= 100) return sprintf("%.0f", v)
            if (v >= 10) return sprintf("%.1f", v)
            return sprintf("%.2f", v)
        }
        {
            line = "| " size($1) " |"
            for (i = 2; i <= NF; ++i) line = line " " figure($i) " |"
            print line
        }' "$data"
}

# gnuplot's tics for powers of 2 or 4 from the first size of the data to the
# last, labelled in keys or bytes as in data_table.
size_tics() {
    local data=$1 unit=$2
    awk -v unit="$unit" '
        function size(n) {
            if (unit == "keys") {
                if (n >= 1048576) return n / 1048576 "M"
                if (n >= 1024) return n / 1024 "K"
                return n
            }
            if (n >= 1048576) return n / 1048576 " MiB"
            if (n >= 1024) return n / 1024 " KiB"
            return n " B"
        }
        { tics = tics (NR > 1 ? ", " : "") "\"" size($1) "\" " $1 }
        END { print "(" tics ")" }' "$data"
}

# gnuplot's ranges for a data file on log scales: a little room around the
# first and the last size and around the smallest and the largest figure, so
# that no point lies on the frame.
ranges() {
    awk '
        NR == 1 { first = $1 }
        {
            last = $1
            for (i = 2; i <= NF; ++i) {
                if ($i == "NaN") continue
                if (low == "" || $i + 0 < low) low = $i + 0
                if (high == "" || $i + 0 > high) high = $i + 0
            }
        }
        END {
            printf "set xrange [%g:%g]\n", first / 1.25, last * 1.25
            printf "set yrange [%g:%g]\n", low / 1.6, high * 1.6
        }' "$1"
}

# pair_chart NAME TITLE UNIT XLABEL KEY YLABEL LEFT RIGHT STYLE|LABEL x 6: the
# chart DIR/NAME.png of two panels side by side, from $work/NAME.dat: columns
# 2 to 4 on the left panel, 5 to 7 on the right, each drawn in the line style
# and under the label given. Called by plot_sweeps, whose work, dir, common
# and subtitle it uses.
pair_chart() {
    local name=$1 title=$2 unit=$3 xlabel=$4 key=$5 ylabel=$6 left=$7 right=$8
    shift 8
    local data=$work/$name.dat series=() column=2 entry
    for entry in "$@"; do
        series+=("using 1:$column with linespoints ls ${entry%%|*} title \"${entry#*|}\"")
        column=$((column + 1))
    done
    cat >"$work/$name.gp" <<EOF
$common
set output "$dir/$name.png"
set multiplot layout 1,2 title "$title\n$subtitle" font ",14"
set xtics $(size_tics "$data" "$unit")
$(ranges "$data")
set xlabel "$xlabel"
set key $key
set ylabel "$ylabel"
set title "$left"
plot "$data" ${series[0]}, "" ${series[1]}, "" ${series[2]}
set title "$right"
plot "$data" ${series[3]}, "" ${series[4]}, "" ${series[5]}
unset multiplot
EOF
    gnuplot "$work/$name.gp"
}

# plot_sweeps RESULTS DIR: the three charts and their tables.
plot_sweeps() {
    local results=$1 dir=$2
    local work=$dir/plot
    mkdir -p "$work"
    # When and under which load the run started (scripts/bench writes a "run"
    # line first), else now.
    local started load subtitle
    started=$(awk -F'\t' '$1 == "run" { print $2; exit }' "$results")
    load=$(awk -F'\t' '$1 == "run" { print $3; exit }' "$results")
    started=${started:-$(date -u '+%Y-%m-%d %H:%M UTC')}
    load=${load:-$(cut -d' ' -f1 /proc/loadavg)}
    subtitle="$(plot_machine), Linux, ${started%% *}, load average $load at the start"
    # Colours and marks per contender, the same on every chart; labels at 1, 2
    # and 5 times the powers of ten, so that a range of one decade reads too.
    local common='
set terminal pngcairo size 1500,650 noenhanced font "Sans,12"
set grid xtics ytics mytics lc rgb "#dddddd"
set logscale x 2
set logscale y 10
set format y "%g"
set ytics (0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000)
set mytics 10
set key box opaque
set style line 1 lc rgb "#d62728" lw 2.5 pt 7 ps 1.2
set style line 2 lc rgb "#1f77b4" lw 2 pt 5 ps 1.1
set style line 3 lc rgb "#2ca02c" lw 2 pt 9 ps 1.3
set style line 4 lc rgb "#7f7f7f" lw 2 dt 2 pt 13 ps 1.1
'

    # Trees: nanoseconds per search and per insert by number of keys.
    sweep_data "$results" items_per_second -1e9 \
        "sweep/tree/search/|ours" "sweep/tree/search/|multiset" "sweep/tree/search/|btree" \
        "sweep/tree/insert/|ours" "sweep/tree/insert/|multiset" "sweep/tree/insert/|btree" \
        >"$work/tree.dat"
    pair_chart tree "Ordered trees of random 8-byte keys: time per operation" keys \
        "keys in the tree (log scale)" "top left" "nanoseconds per operation (log scale)" \
        "search: find a key that is in the tree" "insert: build the tree in random order (per key)" \
        "1|KvRBTree" "2|std::multiset" "3|absl::btree_multiset" \
        "1|KvRBTree" "2|std::multiset" "3|absl::btree_multiset"

    # CRC-32: GB/s by buffer size.
    sweep_data "$results" bytes_per_second 1e9 \
        "sweep/crc32/|ours" "sweep/crc32/|isal" "sweep/crc32/|zlib" "sweep/crc32/|read" \
        >"$work/crc32.dat"
    cat >"$work/crc32.gp" <<EOF
$common
set terminal pngcairo size 1100,700 noenhanced font "Sans,12"
set output "$dir/crc32.png"
set title "CRC-32 throughput by buffer size (random bytes)\n$subtitle" font ",14"
set xtics $(size_tics "$work/crc32.dat" bytes)
$(ranges "$work/crc32.dat")
set xlabel "buffer size (log scale)"
set key bottom right
set ylabel "GB/s (10^9 bytes per second, log scale)"
plot "$work/crc32.dat" using 1:2 with linespoints ls 1 title "CalcCheckSum", \
     "" using 1:3 with linespoints ls 3 title "ISA-L crc32_gzip_refl", \
     "" using 1:4 with linespoints ls 2 title "zlib crc32", \
     "" using 1:5 with linespoints ls 4 title "plain read of the bytes (8 at a time)"
EOF
    gnuplot "$work/crc32.gp"

    # Codec: MB/s of page bytes by page size, compression and decompression.
    sweep_data "$results" bytes_per_second 1e6 \
        "sweep/dscomp/|ours" "sweep/dscomp/|lz4" "sweep/dscomp/|deflate_rle" \
        "sweep/dsdecomp/|ours" "sweep/dsdecomp/|lz4" "sweep/dsdecomp/|inflate" \
        >"$work/codec.dat"
    pair_chart codec "Page compression: throughput in page bytes on database-like pages" bytes \
        "page size (log scale)" "center right" \
        "MB/s of page bytes (10^6 bytes per second, log scale)" compression decompression \
        "1|DScomp" "3|LZ4_compress_default" "2|deflate level 1, Z_RLE" \
        "1|DSdecomp" "3|LZ4_decompress_safe" "2|inflate"

    echo "Size sweeps started $started on $(plot_machine), Linux, load average $load;" \
         "median of the repetitions (one run from 1 M keys on); charts in $dir" \
         "(tree.png, crc32.png, codec.png)."
    echo
    echo "Trees, nanoseconds per operation (random 8-byte keys):"
    echo
    data_table "$work/tree.dat" keys keys "search KvRBTree" "search std::multiset" \
        "search absl::btree_multiset" "insert KvRBTree" "insert std::multiset" \
        "insert absl::btree_multiset"
    echo
    echo "CRC-32, GB/s:"
    echo
    data_table "$work/crc32.dat" bytes bytes CalcCheckSum "ISA-L crc32_gzip_refl" \
        "zlib crc32" "plain read"
    echo
    echo "Page codec, MB/s of page bytes (database-like pages):"
    echo
    data_table "$work/codec.dat" bytes page DScomp "LZ4 compress" "deflate 1, Z_RLE" \
        DSdecomp "LZ4 decompress" inflate
}
