# The package gives the programs' very numbers: eqsim's report, and eqsim-study's tables bit for
# bit.

test_that("eqsim_simulate with its defaults prints eqsim's report with its defaults", {
  d <- actmath()
  report <- readLines(test_path("fixtures", "report.txt"))
  seed <- as.integer(sub("^Seed:\t", "", grep("^Seed:", report, value = TRUE)))
  s <- eqsim_simulate(d$x, d$y, d$conversion, replications = 200, seed = seed)
  expect_identical(s$seed, seed)

  # Per raw score: the standard deviations, then the means, of raw, scale and rounded.
  fields <- strsplit(grep("^[0-9]+\t[-0-9.]+\t", report, value = TRUE), "\t")
  rows <- fields[lengths(fields) == 7]
  printed <- do.call(rbind, lapply(rows, `[`, -1))
  by_quantity <- function(column) {
    quantities <- c("raw", "scale", "rounded")
    unlist(lapply(quantities, function(q) s$scores[[column]][s$scores$quantity == q]))
  }
  ours <- matrix(sprintf("%.8f", c(by_quantity("se"), by_quantity("mean"))), ncol = 6)
  expect_identical(ours, unname(printed))

  # The histogram: one row per raw score, one count per scale point (zeros included there).
  histogram <- fields[lengths(fields) == 37]
  counts <- matrix(0L, nrow = nrow(d), ncol = 36)
  counts[cbind(s$histogram$score + 1, s$histogram$scale_score)] <- s$histogram$count
  expect_identical(counts, do.call(rbind, lapply(histogram, function(r) as.integer(r[-1]))))
})

test_that("eqsim_study writes eqsim-study's tables bit for bit, on one thread or two", {
  d <- actmath()
  run <- function(jobs) {
    eqsim_study(list(actmath.dat = d), sizes = list(300, c(200, 500)),
                methods = c("None", "Pre 4", "Synthetic"), replications = 50, seed = 20261207,
                criterion = "same", cuts = c(20, 26), jobs = jobs)
  }
  one <- run(1)
  for (table in c("scores", "summary", "histograms", "decisions")) {
    expect_identical(frame_text(one[[table]]), read_table_text(paste0(table, ".csv")))
  }
  expect_identical(run(2), one)
})

test_that("eqsim_equate is the criterion Same of the methods whose result ignores the sizes", {
  d <- actmath()
  scores <- read_table_text("scores.csv")
  criterion <- function(method) {
    scores$criterion[scores$method == method & scores$quantity == "raw" & scores$n_new == "300"]
  }
  expect_identical(eqsim:::shortest_text_(eqsim_equate(d$x, d$y)$equated), criterion("None"))
  expect_identical(eqsim:::shortest_text_(eqsim_equate(d$x, d$y, "syn", 0.5)$equated),
                   criterion("Synthetic"))
})

test_that("a criterion column holding the populations' equipercentile equating is criterion none", {
  d <- actmath()
  d$criterion <- eqsim_equate(d$x, d$y)$equated
  run <- function(criterion) {
    eqsim_study(list(a = d), sizes = 100, methods = c("Mean", "Post"), replications = 3,
                seed = 5, criterion = criterion)
  }
  expect_identical(run("column"), run("none"))
})

test_that("an anchor-test study gives eqsim-study's tables, and its criterion is eqsim_equate's", {
  kb <- kbneat()
  set <- list(new = kb$new, old = kb$old, conversion = kb$conversion, max = c(36, 36, 12),
              scale = c(100, 200, 1))
  study <- eqsim_study(list(kbneat_new.tab = set), sizes = list(100, c(200, 300)),
                       methods = c("Tucker", "Levine 0.5", "Chained-equipercentile"),
                       replications = 30, seed = 20261207, cuts = c(130, 150), jobs = 2)
  for (table in c("scores", "summary", "histograms", "decisions")) {
    expect_identical(frame_text(study[[table]]),
                     read_table_text(paste0(table, ".csv"), "anchor-study"))
  }
  raw <- study$scores[study$scores$quantity == "raw" & study$scores$n_new == 100 &
                        study$scores$method == "Tucker", ]
  chained <- eqsim_equate(kb$new, kb$old, "Chained-equi", max = c(36, 36, 12))
  expect_identical(chained$equated, raw$criterion)
})
