# Log-linear pre-smoothing: each form's sample distribution is fitted by a polynomial
# log-linear model of degree 6 (six moments kept) before equipercentile equating.
I examples/actmath.dat
SM Presmoothing
P 6
R 500
SE 20261207
C 1 2 3
SC 1 36 1
