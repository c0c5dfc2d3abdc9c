# What the R functions add to the engine: recycling, NA, texts and factors, the failure summary
# by `errors`, the classes as a factor, and each argument error's message.

uk <- list(base = 0, bwt = 3500, gest = 280, wt = 64, ht = 163, sex = 1, eth = 1, par = 0)
one <- function(...) {
  args <- utils::modifyList(uk, list(...))
  do.call(centile, args)
}
ref <- one()

test_that("inputs recycle: length 1 or one common length", {
  got <- one(bwt = c(3000, 3500, 4000), eth = c(1, 1, 1))
  expect_identical(got[2], ref)
  expect_identical(got, c(one(bwt = 3000), ref, one(bwt = 4000)))
  expect_identical(one(bwt = numeric(0)), numeric(0))
  expect_identical(one(base = integer(0), bwt = numeric(0)), numeric(0))
})

test_that("missing inputs give NA (not NaN) and no warning", {
  cases <- list(base = NA, bwt = NA_real_, gest = NaN, wt = NA, ht = NA, sex = NA_character_, eth = "",
                par = factor(NA))
  for (name in names(cases)) {
    got <- expect_silent(do.call(one, cases[name]))
    expect_identical(got, NA_real_, label = name)
  }
  ev <- expect_silent(evaluate(c(0, NA), 3500, 280, 64, 163, 1, 1, 0))
  expect_identical(ev$z[2], NA_real_)
  expect_identical(ev$error, c(0L, 0L))
  expect_identical(as.character(ev$class), c(as.character(classify(ref)), NA))
})

test_that("texts, factors and numbers as text give the codes' results", {
  same <- list(
    list(base = "uk"), list(base = "United Kingdom"), list(base = factor("uk", levels = c("swe", "uk"))),
    list(base = "0"), list(sex = "Male"), list(sex = factor("Male", levels = c("Female", "Male"))),
    list(eth = "European"), list(eth = factor("European")), list(eth = "1"), list(par = "0"),
    list(par = factor("0", levels = c("4 or more", "0"))), list(base = 0L, bwt = 3500L, gest = 280L))
  for (case in same) expect_identical(do.call(one, case), ref, label = deparse(case))
  expect_identical(one(par = "4 or more"), one(par = 4))
  expect_identical(one(sex = "Female"), one(sex = 0))
})

test_that("an ethnic text is read in the list of its row's base", {
  got <- centile(c("uk", "swe", "nz", "au"), 3500, 280, 64, 163, 1,
                 c("Pakistani", "Pakistani", "Maori", "Indian/Pakistani"), 0)
  want <- centile(0:3, 3500, 280, 64, 163, 1, c(3, 18, 3, 2), 0)
  expect_identical(got, want)
  expect_identical(centile(0:1, 3500, 280, 64, 163, 1, "Indian", 0), centile(0:1, 3500, 280, 64, 163, 1, c(2, 10), 0))
})

test_that("a failing row is NA, summarised by errors = warn, error or quiet", {
  bad <- list(ht = c(163, 1e200, 163, 1e200))  # the height term overflows the weight band
  rows <- do.call(one, c(bad, errors = "quiet"))
  expect_identical(is.na(rows), c(FALSE, TRUE, FALSE, TRUE))
  text <- "2 of 4 rows failed and gave NA: row 2 (run-time error 6: Overflow (weight band)), row 4 (run-time error 6: Overflow (weight band))"
  expect_warning(do.call(one, bad), text, fixed = TRUE)
  expect_error(do.call(one, c(bad, errors = "error")), text, fixed = TRUE)
  expect_silent(do.call(one, c(bad, errors = "quiet")))
  expect_warning(one(ht = rep(1e200, 7)), "7 of 7 rows failed and gave NA: row 1 ", fixed = TRUE)
  expect_warning(one(ht = rep(1e200, 7)), "row 5 (run-time error 6: Overflow (weight band)), ...", fixed = TRUE)
  # A row of a missing base is missing, not failed, even among failing rows.
  expect_warning(centile(c(NA, 0, NA, 0, NA, NA, NA, NA, NA, 0), 3500, 280, 64, 1e200, 1, 1, 0),
                 "3 of 10 rows failed and gave NA: row 2 (run-time error 6: Overflow (weight band)), row 4 (run-time error 6: Overflow (weight band)), row 10 (", fixed = TRUE)
  ev <- suppressWarnings(evaluate(0, 3500, 280, 64, bad$ht, 1, 1, 0))
  expect_identical(ev$error, c(0L, 6L, 0L, 6L))
  expect_true(all(is.na(ev[c(2, 4), names(ev) != "error"])))
})

test_that("classify gives a factor of SGA, AGA, LGA with NA for no centile", {
  got <- classify(c(9.99, 10, 90, 90.01, NA, NaN))
  expect_identical(levels(got), c("SGA", "AGA", "LGA"))
  expect_identical(as.character(got), c("SGA", "AGA", "AGA", "LGA", NA, NA))
  expect_identical(as.character(classify(c(4, 6, 94, 96), sga_below = 5, lga_above = 95)),
                   c("SGA", "AGA", "AGA", "LGA"))
  expect_identical(classify(logical(0)), factor(character(0), levels = c("SGA", "AGA", "LGA")))
})

test_that("each argument error names what is wrong", {
  errors <- list(
    list(quote(one(bwt = 1:3, gest = 1:2)),
         "inputs of different lengths: bwt (3), gest (2); give each input one value or one common length"),
    list(quote(one(bwt = numeric(0), gest = 1:2)), "inputs of different lengths: bwt (0), gest (2)"),
    list(quote(one(base = "mars")), "base: unknown base \"mars\" (expected a code 0-3 or one of: \"United Kingdom\""),
    list(quote(one(base = 4)), "base: codes are 0 (United Kingdom), 1 (Sweden), 2 (New Zealand), 3 (Australia); got 4"),
    list(quote(one(base = 1.5)), "base: codes are 0"),
    list(quote(one(sex = "M")), "sex: unknown text \"M\" (expected a code or one of: \"Male\", \"Female\")"),
    list(quote(one(par = "five")), "par: unknown text \"five\" (expected a code or one of: \"0\", \"1\""),
    list(quote(one(base = c(0, 1), eth = "Maori")), "eth: unknown text \"Maori\" for United Kingdom (expected"),
    list(quote(one(bwt = "3500")), "bwt: expected numbers, got character"),
    list(quote(one(gest = factor(280))), "gest: expected numbers, got a factor"),
    list(quote(one(errors = "loud")), "'arg' should be one of"),
    list(quote(one(threads = -1)), "threads: expected one whole number >= 0"),
    list(quote(classify(50, sga_below = 95, lga_above = 5)), "sga_below must not exceed lga_above"),
    list(quote(classify("50")), "centile: expected numbers, got character"),
    list(quote(add_centiles(list(bwt = 1))), "data: expected a data frame"),
    list(quote(add_centiles(data.frame(bwt = 1))), "no column \"base\", \"gest\""),
    list(quote(add_centiles(data.frame(base = 0), bwt = 2)), "expected one column name each"))
  for (e in errors) expect_error(eval(e[[1]]), e[[2]], fixed = TRUE, label = deparse(e[[1]]))
})

test_that("a text in a row of a missing base is not looked up", {
  expect_identical(centile(c(NA, 0), 3500, 280, 64, 163, 1, c("Maori", "European"), 0), c(NA, ref))
})

test_that("integer and logical columns, read in place chunk by chunk, give the doubles' results", {
  n <- 140000L  # three chunks of the engine's reading
  set.seed(7)
  cols <- list(sample(0:3, n, TRUE), sample(c(500:5000, NA), n, TRUE), sample(c(150:310, NA), n, TRUE),
               sample(40:120, n, TRUE), as.double(sample(140:190, n, TRUE)), sample(c(TRUE, FALSE, NA), n, TRUE),
               sample(1:3, n, TRUE), 2L)
  cols[[5]][c(70000, 139999)] <- 1e200  # failing rows in the second and third chunks
  cols[[1]][65537] <- NA
  doubles <- lapply(cols, as.double)
  expect_identical(tryCatch(do.call(evaluate, cols), warning = conditionMessage),
                   tryCatch(do.call(evaluate, doubles), warning = conditionMessage))
  got <- suppressWarnings(do.call(evaluate, c(cols, threads = 2L)))
  expect_identical(got, suppressWarnings(do.call(evaluate, c(doubles, threads = 1L))))
  expect_identical(which(got$error != 0), c(70000L, 139999L))
})
