# CPU against reading rate, from `scripts/bench --plot` (docs/performance-cpu.dat).
set terminal pngcairo size 900,560 font "DejaVu Sans,11"
set output "docs/performance-cpu.png"
set title "CPU of the receiving program against the reading rate (pseudo-terminal, offscreen)"
set xlabel "readings per second (log scale)"
set ylabel "CPU, % of one core (log scale)"
set logscale xy
set xrange [5:3000000]
set yrange [0.1:150]
set grid xtics ytics mxtics mytics
set key top left
set arrow from 3840,0.1 to 3840,150 nohead dashtype 2 linecolor rgb "#888888"
set label "line limit\n3840/s" at 3840*1.1,0.2 textcolor rgb "#555555"
plot "docs/performance-cpu.dat" index 0 using 1:2 with linespoints pt 7 lw 2 lc rgb "#1f5fbf" title "Thermometer (recording)", \
     "" index 0 using 1:3 with linespoints pt 5 lw 2 lc rgb "#c0392b" title "naive baseline", \
     "" index 1 using 1:2 with points pt 9 ps 2 lc rgb "#1f5fbf" title "Thermometer, flood", \
     "" index 1 using 3:4 with points pt 11 ps 2 lc rgb "#c0392b" title "baseline, flood"
