library(testthat)
library(pelmora)

test_check("pelmora")
