# CPU and main-thread wake-ups by delivery profile, from `scripts/bench --plot`
# (docs/performance-profiles.dat: medians of the runs, 3840 readings/s, recording).
set terminal pngcairo size 1000,480 font "DejaVu Sans,11"
set output "docs/performance-profiles.png"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics mytics
set logscale y
set key top right opaque
set style textbox opaque noborder margins 1,1
set xtics nomirror
set multiplot layout 1,2 title "3840 readings/s on a pseudo-terminal, by how the bytes arrive (offscreen; log scales)"

set title "CPU, % of one core"
set yrange [1:100]
plot "docs/performance-profiles.dat" using 2:xtic(1) linecolor rgb "#1f5fbf" title "Thermometer", \
     "" using 3 linecolor rgb "#c0392b" title "naive baseline", \
     4 with lines dashtype 2 linewidth 2 linecolor rgb "#1f5fbf" title "target for Thermometer", \
     "" using ($0-0.15):2:(sprintf("%.1f", $2)) with labels boxed offset 0,0.8 notitle, \
     "" using ($0+0.15):3:(sprintf("%.1f", $3)) with labels boxed offset 0,0.8 notitle

set title "main-thread wake-ups per second"
set yrange [10:10000]
plot "docs/performance-profiles.dat" using 4:xtic(1) linecolor rgb "#1f5fbf" title "Thermometer", \
     "" using 5 linecolor rgb "#c0392b" title "naive baseline", \
     250 with lines dashtype 2 linewidth 2 linecolor rgb "#1f5fbf" title "target for Thermometer", \
     "" using ($0-0.15):4:(sprintf("%.0f", $4)) with labels boxed offset 0,0.8 notitle, \
     "" using ($0+0.15):5:(sprintf("%.0f", $5)) with labels boxed offset 0,0.8 notitle
unset multiplot
