# Unsmoothed equipercentile equating of the sample distributions.
I examples/actmath.dat
SM None
R 500
SE 20261207
C 1 2 3
SC 1 36 1
