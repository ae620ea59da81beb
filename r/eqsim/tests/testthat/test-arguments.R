# Seeds drawn from R's generator, and bad arguments, each an error that says what is wrong.

test_that("a seed left NULL comes from R's generator, so set.seed() repeats the run", {
  d <- actmath()
  simulate <- function() eqsim_simulate(d$x, d$y, d$conversion, "mean", replications = 5)
  set.seed(11)
  a <- simulate()
  set.seed(11)
  expect_identical(simulate(), a)
  expect_identical(eqsim_simulate(d$x, d$y, d$conversion, "mean", replications = 5,
                                  seed = a$seed), a)
  set.seed(11)
  study <- eqsim_study(list(a = d), sizes = 100, methods = "Linear", replications = 5)
  expect_identical(study$seed, a$seed)
  expect_true(all(study$scores$seed == a$seed))
})

test_that("bad input is an error that says what is wrong", {
  d <- actmath()
  x <- d$x
  y <- d$y
  conv <- d$conversion
  gap <- d
  gap$x[10] <- NA
  kb <- kbneat()
  cases <- list(
    list(quote(eqsim_equate(replace(x, 3, -1), y)), "new-form frequency of raw score 2 is -1"),
    list(quote(eqsim_equate(replace(x, 3, NA), y)), "raw score 2 is missing (NA)"),
    list(quote(eqsim_equate(x, replace(y, 5, Inf))), "frequencies must be finite"),
    list(quote(eqsim_equate(1:3, 1:5)), "at least 4 score points"),
    list(quote(eqsim_equate(as.character(x), y)), "x must be a numeric vector"),
    list(quote(eqsim_equate(x, y, "quantile")), "names no method"),
    list(quote(eqsim_equate(x, y, "Tucker")), "is for the anchor-test design"),
    list(quote(eqsim_equate(x, y, "pre")), "needs the log-linear degree"),
    list(quote(eqsim_equate(x, y, "pre", 0.5)), "1.0 or more"),
    list(quote(eqsim_equate(x, y, "post", 2)), "1.0 or less"),
    list(quote(eqsim_equate(x, y, "syn", 1.5)), "from 0.0 to 1.0"),
    list(quote(eqsim_equate(x, y, "none", 1)), "takes no parameter"),
    list(quote(eqsim_simulate(x, y, conv[-1])), "the conversion has 40 scale scores for 41"),
    list(quote(eqsim_simulate(x, y, replace(conv, 2, NaN))), "is not a finite number"),
    list(quote(eqsim_simulate(x, y, conv, replications = 0)), "replications must be a whole"),
    list(quote(eqsim_simulate(x, y, conv, seed = 2.5)), "seed must be a whole number"),
    list(quote(eqsim_simulate(x, y, conv, sizes = c(0.2, 10))), "does not round to sample sizes"),
    list(quote(eqsim_simulate(x, y, conv, scale = c(1, 36, 0))), "increment must be above 0"),
    list(quote(eqsim_study(list(d), methods = "None")), "named list"),
    list(quote(eqsim_study(list(a = d))), "methods must be"),
    list(quote(eqsim_study(list(a = d), methods = "Pre")),
         "methods[1] \"Pre\": method Presmoothing needs"),
    list(quote(eqsim_study(list(a = d), methods = "Post 0.3 1")), "at most one parameter"),
    list(quote(eqsim_study(list(a = d), methods = c("None", "n"))), "repeat methods[1]"),
    list(quote(eqsim_study(list(a = d), sizes = list(c(1, 2, 3)), methods = "None")), "sizes[[1]]"),
    list(quote(eqsim_study(list(a = d), methods = "None", criterion = "column")),
         "no column criterion"),
    list(quote(eqsim_study(list(a = d), methods = "None", criterion = "irt")), "criterion must be"),
    list(quote(eqsim_study(list(a = gap), methods = "None")),
         "number in row 11 after NA in row 10"),
    list(quote(eqsim_study(list(a = list(data = d, scale = c(1, 0, 1))), methods = "None")),
         "a: scale maximum is below its minimum"),
    list(quote(eqsim_study(list(a = d), methods = "None", jobs = 0)), "jobs must be"),
    list(quote(eqsim_study(list(a = d), methods = "None", cuts = "20")), "cuts must be"),
    list(quote(eqsim_study(list(a = d), methods = "None", cuts = 20.5)),
         "cut score 20.5 is not a point of the scale of data set a"),
    list(quote(eqsim_study(list(a = d), methods = "None", cuts = c(26, 20))), "strictly increasing"),
    list(quote(eqsim_equate(kb$new, kb$old, "post")), "is for the random-groups design"),
    list(quote(eqsim_equate(kb$new, kb$old, "Tucker", 1.5)), "from 0.0 to 1.0"),
    list(quote(eqsim_equate(kb$new, kb$old, anchor = "common")), "anchor must be"),
    list(quote(eqsim_equate(kb$new[, 1:2], kb$old)), "x: the data frame has no column count"),
    list(quote(eqsim_equate(kb$new, rbind(kb$old, kb$old[3, ]))), "y: rows 3 and 181 both give"),
    list(quote(eqsim_equate(kb$new, replace(kb$old, 2, 40), max = c(36, 36, 12))),
         "the anchor score 40 is above 12"),
    list(quote(eqsim_equate(kb$new, kb$old, max = c(36, 36, 40))), "is above a form's highest"),
    list(quote(eqsim_equate(transform(kb$new, anchor = replace(anchor, 1, 5)), kb$old)),
         "x: row 1: the anchor score 5 is above the total score 2"),
    list(quote(eqsim_equate(transform(kb$new, count = -count), kb$old)),
         "x: row 1: the count -1 is not"),
    list(quote(eqsim_equate(transform(kb$new, total = total + 0.5), kb$old)), "not a whole"),
    list(quote(eqsim_study(list(a = d, kb = c(kb, bad = 1)), methods = "None")),
         "\"bad\" is none of these"),
    list(quote(eqsim_study(list(kb = kb), methods = "Tucker", criterion = "column")),
         "an anchor-test data set's criterion is"),
    list(quote(eqsim_study(list(kb = list(new = kb$new, old = kb$old, conversion = 1:3)),
                           methods = "Tucker")), "kb: the old form's highest total score 2")
  )
  for (case in cases) {
    expect_error(eval(case[[1]]), case[[2]], fixed = TRUE, info = deparse(case[[1]]))
  }
})
