# Weights at centiles and curves: a weight fed back through centile() gives its centile; the
# curves are the weights at centiles day by day, bit for bit; missing and failing inputs.

mothers <- data.frame(base = c("uk", "Sweden", "nz", "Australia", "uk"),
                      wt = c(64, 58.5, 82, 49, 110), ht = c(163, 171, 158, 150, 185),
                      sex = c("Male", "Female", "Male", "Female", "Female"),
                      eth = c("European", "1", "Maori", "1", "Indian"), par = c("0", "1", "2", "0", "4 or more"))
wanted <- c(0.5, 3, 10, 50, 90, 97, 99.5)

test_that("a weight at a centile gives that centile back, for every base", {
  grid <- merge(cbind(mothers, mother = seq_len(nrow(mothers))),
                expand.grid(centile = wanted, gest = c(175, 259, 280, 300)))
  w <- with(grid, weight_at_centile(base, centile, gest, wt, ht, sex, eth, par))
  expect_false(anyNA(w))
  back <- with(grid, centile(base, w, gest, wt, ht, sex, eth, par))
  expect_lt(max(abs(back - grid$centile)), 1e-9)
})

test_that("curves() are weight_at_centile() day by day, bit for bit", {
  cv <- curves(factor(mothers$base), mothers$wt, mothers$ht, mothers$sex, mothers$eth, mothers$par,
               centiles = wanted, from = 160, to = 300)
  expect_identical(nrow(cv), nrow(mothers) * length(wanted) * 141L)
  m <- mothers[cv$mother, ]
  w <- weight_at_centile(m$base, cv$centile, cv$gest, m$wt, m$ht, m$sex, m$eth, m$par)
  expect_identical(cv$weight, w)
})

test_that("missing inputs give NA quietly; failing rows and requests are reported", {
  expect_silent(w <- weight_at_centile(c("uk", NA, "uk", "uk"), c(50, 50, NA, 50), c(280, 280, 280, NA),
                                       64, 163, 1, 1, 0))
  expect_identical(is.na(w), c(FALSE, TRUE, TRUE, TRUE))
  expect_silent(cv <- curves(c("uk", NA), 64, c(163, NA), 1, 1, 0, from = 280, to = 281))
  expect_identical(is.na(cv$weight), rep(c(FALSE, TRUE), each = 6))
  msg <- "centile 100 is not between 0 and 100"
  expect_warning(w <- weight_at_centile("uk", c(50, 100), 280, 64, 163, 1, 1, 0), paste0(
    "1 of 2 rows failed and gave NA: row 2 (run-time error 5: Invalid procedure call or argument (", msg, "))"),
    fixed = TRUE)
  expect_identical(is.na(w), c(FALSE, TRUE))
  expect_error(weight_at_centile("uk", 100, 280, 64, 163, 1, 1, 0, errors = "error"), msg, fixed = TRUE)
  expect_silent(weight_at_centile("uk", 100, 280, 64, 163, 1, 1, 0, errors = "quiet"))
  expect_error(curves("uk", 64, 163, 1, 1, 0, centiles = 100), msg, fixed = TRUE)
  expect_error(curves("uk", 64, 163, 1, 1, 0, from = 300, to = 200), "inverted")
  expect_error(curves("uk", 64:65, 163:165, 1, 1, 0), "inputs of different lengths: wt (2), ht (3)",
               fixed = TRUE)
})

test_that("growth_chart() draws the band, the curves and the labelled points", {
  skip_if_not_installed("ggplot2")
  points <- data.frame(gest = c(260, 280), bwt = c(2500, 3600))
  g <- growth_chart("uk", 64, 163, "Male", "European", "0", points = points)
  expect_s3_class(g, "ggplot")
  geoms <- vapply(g$layers, function(l) class(l$geom)[1], character(1))
  expect_identical(geoms, c("GeomRibbon", "GeomLine", "GeomPoint", "GeomText"))
  lines <- g$layers[[2]]$data
  expect_identical(unique(lines$line[lines$centile == 50]), "dashed")
  expect_identical(unique(lines$line[lines$centile != 50]), "solid")
  at <- centile("uk", points$bwt, points$gest, 64, 163, "Male", "European", "0")
  expect_identical(g$layers[[4]]$data$label, formatC(at, format = "f", digits = 1))
})
