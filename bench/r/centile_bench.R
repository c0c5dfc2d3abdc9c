# R's centile() over a million rows: rows per second on every core and on one, and the memory
# R allocates beyond the inputs (the result vector is 8 MB). Not a test: figures to read.
#   R_LIBS=build/r/lib Rscript bench/r/centile_bench.R [rows]
library(pelmora)
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args)) as.integer(args[1]) else 1000000L
set.seed(19)
base <- sample(0:3, n, replace = TRUE)
bwt <- round(rnorm(n, 3400, 500))
gest <- sample(259:294, n, replace = TRUE)
wt <- round(rnorm(n, 67, 12), 1)
ht <- round(rnorm(n, 165, 7))
sex <- sample(0:1, n, replace = TRUE)
eth <- sample(1:4, n, replace = TRUE)
par <- sample(0:4, n, replace = TRUE)
texts <- c("Male", "Female")[sex + 1]
run <- function(threads, sex = texts) {
  gc(reset = TRUE)
  t <- system.time(r <- centile(base, bwt, gest, wt, ht, sex, eth, par, threads = threads))
  c(rows_per_s = n / t[["elapsed"]], cpu_s = t[["user.self"]] + t[["sys.self"]], elapsed_s = t[["elapsed"]])
}
for (threads in c(0L, 1L)) {
  best <- NULL
  for (k in 1:3) {
    r <- run(threads)
    if (is.null(best) || r[["elapsed_s"]] < best[["elapsed_s"]]) best <- r
  }
  cat(sprintf("threads=%d: %.0f rows/s (best of 3, %.2f s elapsed, %.2f s CPU)\n", threads,
              best[["rows_per_s"]], best[["elapsed_s"]], best[["cpu_s"]]))
}
# Memory: the peak R reached during one call beyond what it held before, in MB.
invisible(gc(reset = TRUE))
before <- sum(gc()[, 2])
r <- centile(base, bwt, gest, wt, ht, texts, eth, par)
peak <- sum(gc()[, 6])
cat(sprintf("peak R memory during a call: %.1f MB above the %.1f MB held (result alone: %.1f MB)\n",
            peak - before, before, 8 * n / 2^20))
