library(testthat)
library(eqsim)

test_check("eqsim")
