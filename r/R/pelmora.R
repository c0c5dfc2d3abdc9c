# Customised birth-weight centiles over R's vectors: the calculators' batch engine behind
# centile(), evaluate(), classify() and add_centiles(). Texts and factors become codes here,
# by the calculators' own tables (read once from the compiled code), one lookup per distinct
# text; every row's arithmetic is the engine's.

.tables <- new.env(parent = emptyenv())

.onLoad <- function(libname, pkgname) {
  t <- .Call(pelmora_tables)
  for (name in names(t)) assign(name, t[[name]], envir = .tables)
}

.input_names <- c("base", "bwt", "gest", "wt", "ht", "sex", "eth", "par")

# The common length of the inputs: each has length 1 or the same length n (0 if any is empty).
.common_length <- function(inputs) {
  lens <- lengths(inputs)
  n <- if (any(lens == 0L)) 0L else max(lens, 1L)
  bad <- lens != 1L & lens != n
  if (any(bad) || (n == 0L && any(lens > 1L))) {
    odd <- lens != 1L
    stop("inputs of different lengths: ",
         paste0(names(inputs)[odd], " (", lens[odd], ")", collapse = ", "),
         "; give each input one value or one common length", call. = FALSE)
  }
  n
}

.missing_text <- function(x) is.na(x) | x == ""

# Texts read as the calculators read numbers in text (a column of codes read as text, and the
# tests' tables): correctly rounded, where R's own reader may miss by an ulp in the 16th and
# 17th digits; NA for a text that is no number.
.read_numbers <- function(texts) .Call(pelmora_read_numbers, as.character(texts))

.unknown_text <- function(what, text, choices, where = "") {
  stop(what, ": unknown text \"", text, "\"", where, " (expected a code or one of: ",
       paste0("\"", choices, "\"", collapse = ", "), ")", call. = FALSE)
}

# Distinct texts and each row's index into them: a factor's levels, or a character vector's
# unique values.
.distinct <- function(x) {
  if (is.factor(x)) {
    list(texts = levels(x), index = as.integer(x))
  } else {
    texts <- unique(x)
    list(texts = texts, index = match(x, texts))
  }
}

.check_numbers <- function(x, what) {
  if (is.factor(x)) stop(what, ": expected numbers, got a factor", call. = FALSE)
  if (!is.numeric(x) && !is.logical(x)) {
    stop(what, ": expected numbers, got ", class(x)[1], call. = FALSE)
  }
  # The batch reads integer and logical columns in place, a chunk at a time.
  if (is.integer(x) || is.logical(x)) x else as.double(x)
}

# Codes for a text-or-code input with one table for every base (sex, parity).
.codes <- function(x, texts, codes, what) {
  if (!is.factor(x) && !is.character(x)) return(.check_numbers(x, what))
  d <- .distinct(x)
  lut <- codes[match(d$texts, texts)]
  numeric <- is.na(lut)
  lut[numeric] <- .read_numbers(d$texts[numeric])
  bad <- is.na(lut) & !.missing_text(d$texts)
  if (any(bad)) {
    used <- unique(d$index)
    bad_used <- which(bad)[which(bad) %in% used]
    if (length(bad_used)) .unknown_text(what, d$texts[bad_used[1]], texts)
  }
  lut[d$index]
}

.base_codes <- function(base) {
  if (is.factor(base) || is.character(base)) {
    d <- .distinct(base)
    both <- c(.tables$bases, .tables$tags)
    m <- match(d$texts, both)
    lut <- (m - 1L) %% length(.tables$bases)
    numeric <- is.na(lut) & !.missing_text(d$texts)
    lut[numeric] <- .read_numbers(d$texts[numeric])
    bad <- numeric & (is.na(lut) | !(lut %in% 0:3))
    if (any(bad)) {
      used <- which(bad)[which(bad) %in% unique(d$index)]
      if (length(used)) {
        stop("base: unknown base \"", d$texts[used[1]], "\" (expected a code 0-3 or one of: ",
             paste0("\"", both, "\"", collapse = ", "), ")", call. = FALSE)
      }
    }
    return(as.integer(lut)[d$index])
  }
  codes <- .check_numbers(base, "base")
  whole <- is.na(codes) | (codes %in% 0:3)
  if (!all(whole)) {
    stop("base: codes are 0 (United Kingdom), 1 (Sweden), 2 (New Zealand), 3 (Australia); got ",
         codes[!whole][1], call. = FALSE)
  }
  as.integer(codes)
}

# Ethnic-group codes: a text is looked up in the list of its row's base.
.ethnic_codes <- function(eth, base) {
  if (!is.factor(eth) && !is.character(eth)) return(.check_numbers(eth, "eth"))
  if (length(eth) == 0L || length(base) == 0L) return(numeric(0))
  d <- .distinct(eth)
  nb <- length(.tables$bases)
  lut <- matrix(NA_real_, nrow = length(d$texts), ncol = nb)
  numbers <- .read_numbers(d$texts)
  for (b in seq_len(nb)) {
    g <- .tables$ethnic[[b]]
    code <- g$code[match(d$texts, g$text)]
    lut[, b] <- ifelse(is.na(code), numbers, code)
  }
  codes <- lut[cbind(d$index, base + 1L)]
  bad <- is.na(codes) & !is.na(base) & !.missing_text(d$texts)[d$index]
  if (any(bad)) {
    i <- which(bad)[1]
    b <- base[if (length(base) == 1L) 1L else i]
    text <- d$texts[d$index[if (length(d$index) == 1L) 1L else i]]
    .unknown_text("eth", text, .tables$ethnic[[b + 1L]]$text, paste0(" for ", .tables$bases[b + 1L]))
  }
  codes
}

.threads <- function(threads) {
  if (length(threads) != 1L || is.na(threads) || threads < 0 || threads != floor(threads)) {
    stop("threads: expected one whole number >= 0 (0 uses every core)", call. = FALSE)
  }
  as.integer(threads)
}

# The mother's inputs as the engine reads them: base codes as integers, the rest as doubles.
.mother_codes <- function(inputs) {
  base <- .base_codes(inputs$base)
  list(base = base,
       wt = .check_numbers(inputs$wt, "wt"),
       ht = .check_numbers(inputs$ht, "ht"),
       sex = .codes(inputs$sex, names(.tables$sex), as.double(.tables$sex), "sex"),
       eth = .ethnic_codes(inputs$eth, base),
       par = .codes(inputs$par, .tables$parity, seq_along(.tables$parity) - 1, "par"))
}

# Reports the failed rows of an engine result `r` over `n` rows (or mothers) by `errors`.
.report <- function(r, n, errors, what = "row") {
  if (r$failed > 0 && errors != "quiet") {
    shown <- paste0(what, " ", format(r$rows, scientific = FALSE, trim = TRUE), " (run-time error ", r$numbers,
                    ": ", r$messages, ")", collapse = ", ")
    more <- if (r$failed > length(r$rows)) ", ..." else ""
    text <- paste0(format(r$failed, scientific = FALSE), " of ", format(n, scientific = FALSE), " ",
                   what, if (n == 1) "" else "s", " failed and gave NA: ", shown, more)
    if (errors == "error") stop(text, call. = FALSE)
    warning(text, call. = FALSE)
  }
  r
}

# Runs the engine for the quantities `wanted` (names); reports failures by `errors`.
.run <- function(inputs, wanted, errors, threads) {
  names(inputs) <- .input_names
  n <- .common_length(inputs)
  m <- .mother_codes(inputs)
  q <- match(wanted, .tables$quantities) - 1L
  r <- .Call(pelmora_batch, m$base, .check_numbers(inputs$bwt, "bwt"), .check_numbers(inputs$gest, "gest"),
             m$wt, m$ht, m$sex, m$eth, m$par, as.double(n), q, .threads(threads))
  names(r$values) <- wanted
  .report(r, n, errors)
}

centile <- function(base, bwt, gest, wt, ht, sex, eth, par, errors = c("warn", "error", "quiet"),
                    threads = 0L) {
  errors <- match.arg(errors)
  .run(list(base, bwt, gest, wt, ht, sex, eth, par), "centile", errors, threads)$values$centile
}

.class_factor <- function(codes) {
  structure(codes, levels = .tables$classes, class = "factor")
}

.thresholds <- function(sga_below, lga_above) {
  ok <- function(x) is.numeric(x) && length(x) == 1L && !is.na(x)
  if (!ok(sga_below) || !ok(lga_above)) {
    stop("sga_below and lga_above: expected one number each", call. = FALSE)
  }
  if (sga_below > lga_above) stop("sga_below must not exceed lga_above", call. = FALSE)
}

classify <- function(centile, sga_below = 10, lga_above = 90) {
  .thresholds(sga_below, lga_above)
  if (!is.numeric(centile) && !all(is.na(centile))) {
    stop("centile: expected numbers, got ", class(centile)[1], call. = FALSE)
  }
  .class_factor(.Call(pelmora_classify, as.double(centile), as.double(sga_below), as.double(lga_above)))
}

evaluate <- function(base, bwt, gest, wt, ht, sex, eth, par, errors = c("warn", "error", "quiet"),
                     threads = 0L, sga_below = 10, lga_above = 90) {
  errors <- match.arg(errors)
  .thresholds(sga_below, lga_above)
  r <- .run(list(base, bwt, gest, wt, ht, sex, eth, par), .tables$quantities, errors, threads)
  out <- r$values
  out$class <- classify(out$centile, sga_below, lga_above)
  out$error <- r$error
  as.data.frame(out, stringsAsFactors = FALSE)
}

add_centiles <- function(data, base = "base", bwt = "bwt", gest = "gest", wt = "wt", ht = "ht",
                         sex = "sex", eth = "eth", par = "par", errors = c("warn", "error", "quiet"),
                         threads = 0L, sga_below = 10, lga_above = 90,
                         names = c(centile = "centile", z = "z", class = "class")) {
  errors <- match.arg(errors)
  if (!is.data.frame(data)) stop("data: expected a data frame", call. = FALSE)
  .thresholds(sga_below, lga_above)
  columns <- list(base, bwt, gest, wt, ht, sex, eth, par)
  if (!all(vapply(columns, function(x) is.character(x) && length(x) == 1L, logical(1)))) {
    stop("base, bwt, gest, wt, ht, sex, eth, par: expected one column name each", call. = FALSE)
  }
  columns <- unlist(columns)
  absent <- !(columns %in% base::names(data))
  if (any(absent)) {
    stop("no column ", paste0("\"", columns[absent], "\"", collapse = ", "), " in data", call. = FALSE)
  }
  if (!is.character(names) || !setequal(base::names(names), c("centile", "z", "class"))) {
    stop("names: expected a character vector named centile, z and class", call. = FALSE)
  }
  r <- .run(lapply(columns, function(col) data[[col]]), c("centile", "z"), errors, threads)
  # A zero-row data frame gives zero rows, one of many rows as many values.
  added <- list(r$values$centile, r$values$z, classify(r$values$centile, sga_below, lga_above))
  base::names(added) <- names[c("centile", "z", "class")]
  if (inherits(data, "data.table")) {
    if (!requireNamespace("data.table", quietly = TRUE)) {
      stop("a data.table needs the data.table package", call. = FALSE)
    }
    data <- data.table::copy(data)
    for (col in base::names(added)) data.table::set(data, j = col, value = added[[col]])
    return(data)
  }
  for (col in base::names(added)) data[[col]] <- added[[col]]
  data
}

weight_at_centile <- function(base, centile, gest, wt, ht, sex, eth, par,
                              errors = c("warn", "error", "quiet")) {
  errors <- match.arg(errors)
  inputs <- list(base = base, centile = centile, gest = gest, wt = wt, ht = ht, sex = sex, eth = eth, par = par)
  n <- .common_length(inputs)
  m <- .mother_codes(inputs)
  r <- .Call(pelmora_weight_at_centile, m$base, as.double(.check_numbers(centile, "centile")),
             as.double(.check_numbers(gest, "gest")), as.double(m$wt), as.double(m$ht), as.double(m$sex),
             as.double(m$eth), as.double(m$par), as.double(n))
  .report(r, n, errors)$values
}

.day <- function(x, what) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x != floor(x)) {
    stop(what, ": expected one whole number of days", call. = FALSE)
  }
  as.integer(x)
}

curves <- function(base, wt, ht, sex, eth, par, centiles = c(10, 50, 90), from = 24 * 7, to = 42 * 7,
                   errors = c("warn", "error", "quiet")) {
  errors <- match.arg(errors)
  inputs <- list(base = base, wt = wt, ht = ht, sex = sex, eth = eth, par = par)
  n <- .common_length(inputs)
  m <- .mother_codes(inputs)
  if (!is.numeric(centiles) || anyNA(centiles)) stop("centiles: expected numbers", call. = FALSE)
  first <- .day(from, "from")
  last <- .day(to, "to")
  r <- .Call(pelmora_curves, m$base, as.double(m$wt), as.double(m$ht), as.double(m$sex), as.double(m$eth),
             as.double(m$par), as.double(n), as.double(centiles),
             first, last)
  .report(r, n, errors, what = "mother")
  days <- if (first <= last) seq.int(first, last) else integer(0)
  data.frame(mother = rep(seq_len(n), each = length(centiles) * length(days)),
             centile = rep(rep(as.double(centiles), each = length(days)), n),
             gest = rep(days, n * length(centiles)),
             weight = r$values)
}

growth_chart <- function(base, wt, ht, sex, eth, par, points = NULL, centiles = c(10, 50, 90),
                         from = 24 * 7, to = 42 * 7, errors = c("warn", "error", "quiet")) {
  errors <- match.arg(errors)
  if (!requireNamespace("ggplot2", quietly = TRUE)) {
    stop("growth_chart() needs the ggplot2 package", call. = FALSE)
  }
  mother <- list(base = base, wt = wt, ht = ht, sex = sex, eth = eth, par = par)
  if (!all(lengths(mother) == 1L)) {
    stop("growth_chart: one mother (base, wt, ht, sex, eth, par of length 1)", call. = FALSE)
  }
  if (!is.null(points) && (!is.data.frame(points) || !all(c("gest", "bwt") %in% names(points)))) {
    stop("points: expected a data frame with columns gest (days) and bwt (grams)", call. = FALSE)
  }
  cv <- curves(base, wt, ht, sex, eth, par, centiles = centiles, from = from, to = to, errors = errors)
  cv$week <- cv$gest / 7
  cv$line <- ifelse(cv$centile == 50, "dashed", "solid")
  cv$label <- format(cv$centile, trim = TRUE)
  .data <- ggplot2::.data
  low <- cv[cv$centile == min(centiles), ]
  high <- cv[cv$centile == max(centiles), ]
  band <- data.frame(week = low$week, low = low$weight, high = high$weight)
  chart <- ggplot2::ggplot() +
    ggplot2::geom_ribbon(ggplot2::aes(x = .data$week, ymin = .data$low, ymax = .data$high), data = band,
                         fill = "grey85", na.rm = TRUE) +
    ggplot2::geom_line(ggplot2::aes(x = .data$week, y = .data$weight, group = .data$label,
                                    linetype = .data$line), data = cv, na.rm = TRUE) +
    ggplot2::scale_linetype_identity() +
    ggplot2::labs(x = "Gestation (weeks)", y = "Birth weight (g)")
  if (!is.null(points) && nrow(points) > 0L) {
    pts <- data.frame(week = as.double(points$gest) / 7, bwt = as.double(points$bwt))
    at <- centile(base, points$bwt, points$gest, wt, ht, sex, eth, par, errors = errors)
    pts$label <- ifelse(is.na(at), "NA", formatC(at, format = "f", digits = 1))
    chart <- chart +
      ggplot2::geom_point(ggplot2::aes(x = .data$week, y = .data$bwt), data = pts) +
      ggplot2::geom_text(ggplot2::aes(x = .data$week, y = .data$bwt, label = .data$label), data = pts,
                         vjust = -0.8, size = 3)
  }
  chart
}
