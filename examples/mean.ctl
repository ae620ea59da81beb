# Mean equating: every new-form score is shifted by the difference of the form means.
I examples/actmath.dat
SM Mean
R 500
SE 20261207
C 1 2 3
SC 1 36 1
