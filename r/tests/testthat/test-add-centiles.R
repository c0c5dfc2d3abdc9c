# add_centiles(): the same kind of table out, its columns appended, the input left alone.

births <- data.frame(base = c("uk", "swe", "nz", "au", "uk"), bwt = c(3500, 2500, 4200, 3100, NA),
                     gest = c(280, 266, 287, 270, 280), wt = c(64, 80, 70, 55, 60),
                     ht = c(163, 150, 172, 160, 165), sex = c("Male", "Female", "Male", "Female", "Male"),
                     eth = c("European", "Finnish", "Maori", "African", "Indian"),
                     par = c("0", "1", "4 or more", "2", "3"))
want <- with(births, centile(base, bwt, gest, wt, ht, sex, eth, par))

check <- function(out, kind) {
  expect_s3_class(out, kind)
  expect_identical(names(out), c(names(births), "centile", "z", "class"))
  expect_identical(out$centile, want)
  expect_identical(out$z, with(births, evaluate(base, bwt, gest, wt, ht, sex, eth, par))$z)
  expect_identical(out$class, classify(want))
}

test_that("a data frame gets centile, z and class", {
  check(add_centiles(births), "data.frame")
  out <- add_centiles(births[0, ])
  expect_identical(nrow(out), 0L)
  expect_identical(out$class, classify(numeric(0)))
})

test_that("columns are found by the names given, and added under the names given", {
  renamed <- births
  names(renamed)[2] <- "weight_g"
  out <- add_centiles(renamed, bwt = "weight_g", names = c(centile = "c", z = "zz", class = "k"))
  expect_identical(out$c, want)
  expect_identical(names(out)[9:11], c("c", "zz", "k"))
  again <- add_centiles(add_centiles(births))
  expect_identical(names(again), names(add_centiles(births)))
})

test_that("a tibble stays a tibble", {
  skip_if_not_installed("tibble")
  check(add_centiles(tibble::as_tibble(births)), "tbl_df")
})

test_that("a data.table stays a data.table, the caller's unchanged", {
  skip_if_not_installed("data.table")
  dt <- data.table::as.data.table(births)
  out <- add_centiles(dt)
  check(out, "data.table")
  expect_identical(names(dt), names(births))
  # Still a proper data.table: a column can be added by reference without a copy or a warning.
  expect_silent(data.table::set(out, j = "twice", value = out$centile * 2))
  expect_identical(out$twice, want * 2)
})
