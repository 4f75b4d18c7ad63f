# Detection time against N, log scales; `data` and `out` are given on the command line.
set terminal pngcairo size 800,500 font "sans,10"
set output out
set logscale xy
set xlabel "subkeys per view (N)"
set ylabel "median time (s)"
set key top left
set grid
plot data using 1:2 with linespoints title "gs-uninstall.exe detect", \
     data using 1:3 with linespoints title "floor (enumerate only)", \
     data using 1:4 with linespoints title "reg query | find"
