# Kernel equating: each form's sample distribution is fitted by a log-linear model of degree 6,
# made continuous with a Gaussian kernel whose bandwidth the data choose, and the continuous
# distributions are equated equipercentile-wise.
I examples/actmath.dat
SM Kernel
P 6
R 500
SE 20261207
C 1 2 3
SC 1 36 1
