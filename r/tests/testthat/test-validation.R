# The validation table, bit for bit: every row through centile() at once and through evaluate()
# on one thread, with the table's base tags, and with the bases as a factor.

table <- read.csv(test_path("centiles.csv"), colClasses = "character")
# The table's numbers are the shortest texts that read back into their doubles; R's own reader
# misses some of them by an ulp (z 1.555372202317857 reads as ...0c8p+0, not ...0c9p+0), so they
# are read as the calculators read numbers in text, correctly rounded.
number <- pelmora:::.read_numbers
inputs <- lapply(table[c("bwt", "gest", "wt", "ht", "sex", "eth", "par")], number)
expected <- lapply(table[c("centile", "z", "optimal_weight")], number)
failed <- table$error != ""

test_that("centile() gives the table's centiles and failures", {
  expect_gt(nrow(table), 4000)
  got <- suppressWarnings(do.call(centile, c(list(table$base), inputs)))
  expect_identical(got, expected$centile)
  expect_identical(is.na(got) & !failed, is.na(expected$centile) & !failed)
})

test_that("evaluate() gives the table's quantities, classes and error numbers", {
  ev <- suppressWarnings(do.call(evaluate, c(list(factor(table$base)), inputs, threads = 1L)))
  for (q in names(expected)) expect_identical(ev[[q]], expected[[q]], label = q)
  expect_identical(ev$error, ifelse(failed, as.integer(table$error), 0L))
  expect_identical(ev$class, classify(expected$centile))
})

test_that("a failing row's warning carries the table's message", {
  i <- which(failed)[1]
  row <- lapply(c(list(table$base), inputs), `[`, i)
  expect_warning(do.call(centile, row),
                 paste0("1 of 1 row failed and gave NA: row 1 (run-time error ", table$error[i], ": ",
                        table$message[i], ")"), fixed = TRUE)
})
