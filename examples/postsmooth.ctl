# Cubic-spline post-smoothing of the 40-item mathematics forms.
# Run from the repository's top folder: build/eqsim examples/postsmooth.ctl
I examples/actmath.dat
SM Postsmoothing
P 0.3
R 500
SE 20261207
C 1 2 3
SC 1 36 1
