# Linear equating: the new form's mean and standard deviation are matched to the old form's.
I examples/actmath.dat
SM Linear
R 500
SE 20261207
C 1 2 3
SC 1 36 1
