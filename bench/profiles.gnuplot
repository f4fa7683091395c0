# CPU and main-thread wake-ups by delivery profile, from `scripts/bench --plot`
# (docs/performance-profiles.dat: medians of the runs, 3840 readings/s, recording).
set terminal pngcairo size 1000,460 font "DejaVu Sans,11"
set output "docs/performance-profiles.png"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set key top right
set xtics nomirror
set multiplot layout 1,2 title "3840 readings/s on a pseudo-terminal, by how the bytes arrive (offscreen)"

set title "CPU, % of one core"
set yrange [0:*]
set arrow 1 from graph 0, first 4 to graph 1, first 4 nohead dashtype 2 linecolor rgb "#1f5fbf"
set label 1 "target 4 %" at graph 0.02, first 4 offset 0,0.6 textcolor rgb "#1f5fbf"
plot "docs/performance-profiles.dat" using 2:xtic(1) linecolor rgb "#1f5fbf" title "Thermometer", \
     "" using 3 linecolor rgb "#c0392b" title "naive baseline", \
     "" using 0:2:(sprintf("%.1f", $2)) with labels offset -2,0.7 notitle, \
     "" using 0:3:(sprintf("%.1f", $3)) with labels offset 2,0.7 notitle

set title "main-thread wake-ups per second (log scale)"
set logscale y
set yrange [10:10000]
unset arrow 1
unset label 1
set arrow 2 from graph 0, first 250 to graph 1, first 250 nohead dashtype 2 linecolor rgb "#1f5fbf"
set label 2 "target 250" at graph 0.02, first 250 offset 0,0.6 textcolor rgb "#1f5fbf"
plot "docs/performance-profiles.dat" using 4:xtic(1) linecolor rgb "#1f5fbf" title "Thermometer", \
     "" using 5 linecolor rgb "#c0392b" title "naive baseline", \
     "" using 0:4:(sprintf("%.0f", $4)) with labels offset -2,0.7 notitle, \
     "" using 0:5:(sprintf("%.0f", $5)) with labels offset 2,0.7 notitle
unset multiplot
