# The package's three calls: the population equating of one method, one simulation (as the eqsim
# program runs it) and a whole study (as eqsim-study runs it). These functions check what R alone
# can tell (types, lengths, whole numbers), settle the seed and the sample sizes, and hand the
# values to the compiled engine (src/bindings.cpp), which checks the values themselves with the
# programs' own diagnostics.

eqsim_equate <- function(x, y, method = "none", parameter = NULL, anchor = "internal",
                         max = NULL) {
  method <- method_word(method)
  parameter <- parameter_value(parameter)
  if (is.data.frame(x) || is.data.frame(y)) {
    tables <- anchor_tables(x, y, NULL, anchor, max, c("x", "y"), "")
    equated <- equate_anchor_population_(tables, method, parameter)
    return(data.frame(score = seq_along(equated) - 1L, equated = equated))
  }
  x <- frequencies(x, "x")
  y <- frequencies(y, "y")
  equated <- equate_population_(x, y, method, parameter)
  data.frame(score = seq_along(x) - 1L, equated = equated)
}

eqsim_simulate <- function(x, y, conversion, method = "post", parameter = NULL,
                           replications = 1000, seed = NULL, sizes = c(sum(x), sum(y)),
                           scale = c(1, 36, 1)) {
  x <- frequencies(x, "x")
  y <- frequencies(y, "y")
  conversion <- numbers(conversion, "conversion")
  method <- method_word(method)
  parameter <- parameter_value(parameter)
  replications <- whole_number(replications, "replications", 1, 2147483647)
  seed <- settle_seed(seed)
  sizes <- sample_sizes(sizes, "sizes")
  scale <- scale_value(scale, "scale")
  bar <- progress_bar()
  on.exit(bar$close())
  result <- simulate_(x, y, conversion, method, parameter, replications, seed, sizes[1],
                      sizes[2], scale, bar$update)
  if (is.null(result)) {
    interrupted()
  }
  if (result$share_outside >= 0.25) {
    warning(scale_warning(scale, conversion, result$share_outside), call. = FALSE)
  }
  structure(list(scores = result$scores, histogram = result$histogram, seed = seed),
            class = "eqsim_simulation")
}

eqsim_study <- function(data, sizes = NULL, methods, replications = 1000, seed = NULL,
                        criterion = "none", cuts = NULL, jobs = 1) {
  criterion <- criterion_word(criterion)
  data <- study_data(data, criterion)
  sizes <- study_sizes(sizes)
  if (missing(methods) || !is.character(methods) || length(methods) == 0 || anyNA(methods)) {
    stop_argument("methods must be a character vector of method words, such as ",
                  "c(\"None\", \"Pre 6\")")
  }
  replications <- whole_number(replications, "replications", 1, 2147483647)
  seed <- settle_seed(seed)
  jobs <- whole_number(jobs, "jobs", 1, 1024)
  if (is.null(cuts)) {
    cuts <- numeric()
  } else if (!is.numeric(cuts) || length(cuts) == 0 || anyNA(cuts)) {
    stop_argument("cuts must be NULL or cut scores (rounded scale scores), such as c(20, 26)")
  }
  bar <- progress_bar()
  on.exit(bar$close())
  result <- study_(data, sizes$new, sizes$old, methods, replications, seed, criterion,
                   as.double(cuts), jobs, bar$update)
  if (is.null(result)) {
    interrupted()
  }
  structure(list(scores = result$scores, summary = result$summary,
                 histograms = result$histograms, decisions = result$decisions, seed = seed),
            class = "eqsim_study")
}

# ---- Arguments ----

stop_argument <- function(...) {
  stop(..., call. = FALSE)
}

numbers <- function(x, name) {
  if (!is.numeric(x) || is.object(x)) {
    stop_argument(name, " must be a numeric vector")
  }
  as.double(x)
}

# A form's frequencies of raw scores 0, 1, ..., K. Missing values are named here; negative and
# infinite ones, and too few score points, by the engine.
frequencies <- function(x, name) {
  x <- numbers(x, name)
  if (anyNA(x)) {
    stop_argument(name, ": the frequency of raw score ", which(is.na(x))[1] - 1,
                  " is missing (NA); frequencies must be finite and not negative")
  }
  x
}

method_word <- function(method) {
  if (!is.character(method) || length(method) != 1 || is.na(method)) {
    stop_argument("method must be one method word, such as \"post\" or \"None\"")
  }
  method
}

parameter_value <- function(parameter) {
  if (is.null(parameter)) {
    return(NULL)
  }
  if (!is.numeric(parameter) || length(parameter) != 1) {
    stop_argument("parameter must be NULL or one number")
  }
  as.double(parameter)
}

whole_number <- function(x, name, lowest, highest) {
  if (!is.numeric(x) || length(x) != 1 || is.na(x) || x != trunc(x) || x < lowest ||
      x > highest) {
    stop_argument(name, " must be a whole number from ", format(lowest, scientific = FALSE),
                  " to ", format(highest, scientific = FALSE))
  }
  as.integer(x)
}

# The seed a run uses: NULL (or 0, as the programs' clock seed) draws one from R's random numbers,
# so that set.seed() makes the run reproducible; a negative seed runs as its absolute value.
settle_seed <- function(seed) {
  if (!is.null(seed)) {
    seed <- abs(whole_number(seed, "seed", -2147483646, 2147483646))
  }
  if (is.null(seed) || seed == 0L) sample.int(2147483646L, 1L) else seed
}

# One sample size for both forms, or a pair (new, old), rounded to whole examinees as the programs
# round population totals: trunc(size + 0.5).
sample_sizes <- function(sizes, name) {
  if (!is.numeric(sizes) || !(length(sizes) %in% 1:2)) {
    stop_argument(name, " must be one sample size or a pair (new form, old form)")
  }
  rounded <- trunc(as.double(sizes) + 0.5)
  if (anyNA(rounded) || any(rounded < 1 | rounded > 2147483647)) {
    stop_argument(name, ": ", paste(format(sizes), collapse = ", "),
                  " does not round to sample sizes from 1 to 2147483647")
  }
  as.integer(rep(rounded, length.out = 2))
}

scale_value <- function(scale, name) {
  if (!is.numeric(scale) || length(scale) != 3) {
    stop_argument(name, " must be c(minimum, maximum, increment)")
  }
  as.double(scale)
}

criterion_word <- function(criterion) {
  words <- c("none", "same", "column")
  if (!is.character(criterion) || length(criterion) != 1 ||
      !(tolower(criterion) %in% words)) {
    stop_argument("criterion must be \"none\", \"same\" or \"column\"")
  }
  tolower(criterion)
}

# The pairs of sample sizes of a study: a list (or a numeric vector) of one size or a pair each;
# NULL runs each data set at its populations' rounded totals.
study_sizes <- function(sizes) {
  if (is.null(sizes)) {
    return(list(new = integer(), old = integer()))
  }
  if (is.numeric(sizes)) {
    sizes <- as.list(sizes)
  }
  if (!is.list(sizes) || length(sizes) == 0) {
    stop_argument("sizes must be NULL or a list of sample sizes, each one size or a pair")
  }
  pairs <- vapply(seq_along(sizes), function(i) {
    sample_sizes(sizes[[i]], paste0("sizes[[", i, "]]"))
  }, integer(2))
  list(new = pairs[1, ], old = pairs[2, ])
}

# The data sets of a study: a named list whose elements are data frames with columns x, y and
# conversion (and criterion for criterion = "column"), or list(data = <data frame>, scale =
# c(min, max, inc)) for a scale other than c(1, 36, 1). A form shorter than the other ends its
# column with NA, as a data file leaves the entries empty.
study_data <- function(data, criterion) {
  if (is.data.frame(data) || !is.list(data) || length(data) == 0) {
    stop_argument("data must be a named list of data frames")
  }
  names <- names(data)
  if (is.null(names) || anyNA(names) || any(names == "")) {
    stop_argument("data must be a named list: the names take the place of the data files' names")
  }
  if (anyDuplicated(names)) {
    stop_argument("data: the name \"", names[anyDuplicated(names)],
                  "\" is given twice; the tables could not tell the two data sets apart")
  }
  lapply(seq_along(data), function(i) study_data_set(data[[i]], names[i], criterion))
}

study_data_set <- function(element, name, criterion) {
  if (!is.data.frame(element) && is.list(element) && !is.null(element[["new"]])) {
    return(study_anchor_set(element, name, criterion))
  }
  scale <- c(1, 36, 1)
  if (!is.data.frame(element) && is.list(element) && !is.null(element[["data"]])) {
    if (!is.null(element[["scale"]])) {
      scale <- scale_value(element[["scale"]], paste0("data[[\"", name, "\"]]$scale"))
    }
    element <- element[["data"]]
  }
  if (!is.data.frame(element)) {
    stop_argument("data[[\"", name, "\"]] must be a data frame with columns x, y and conversion, ",
                  "or list(data = <data frame>, scale = c(min, max, inc))")
  }
  needed <- c("x", "y", "conversion", if (criterion == "column") "criterion")
  absent <- setdiff(needed, names(element))
  if (length(absent)) {
    stop_argument(name, ": the data frame has no column ", paste(absent, collapse = ", "))
  }
  column <- function(what) {
    values <- numbers(element[[what]], paste0(name, ": column ", what))
    form_points(values, name, what)
  }
  x <- column("x")
  y <- column("y")
  conversion <- numbers(element[["conversion"]], paste0(name, ": column conversion"))
  criterion_column <- if (criterion == "column") {
    numbers(element[["criterion"]], paste0(name, ": column criterion"))
  }
  list(name = name, x = x, y = y, conversion = conversion[seq_along(y)],
       criterion = criterion_column, scale = scale)
}

# An anchor-test data set: list(new = <table>, old = <table>, conversion = <scale scores>, anchor
# = "internal" or "external", and optionally max = c(X-MAX, Y-MAX, V-MAX) and scale).
study_anchor_set <- function(element, name, criterion) {
  if (criterion == "column") {
    stop_argument(name, ": criterion = \"column\" is for random-groups data sets; an anchor-test ",
                  "data set's criterion is \"none\" or \"same\"")
  }
  known <- c("new", "old", "conversion", "anchor", "max", "scale")
  unknown <- setdiff(names(element), known)
  if (length(unknown) || is.null(names(element)) || any(names(element) == "")) {
    stop_argument(name, ": an anchor-test data set is list(new = , old = , conversion = ",
                  "[, anchor = , max = , scale = ]); ",
                  if (length(unknown)) paste0("\"", unknown[1], "\" is none of these")
                  else "every element needs its name")
  }
  if (is.null(element[["conversion"]])) {
    stop_argument(name, ": an anchor-test data set needs conversion, the old form's scale ",
                  "score of each raw score 0, 1, ..., Y-MAX")
  }
  conversion <- numbers(element[["conversion"]], paste0(name, ": conversion"))
  anchor <- if (is.null(element[["anchor"]])) "internal" else element[["anchor"]]
  tables <- anchor_tables(element[["new"]], element[["old"]], conversion, anchor,
                          element[["max"]], paste0(name, ": ", c("new", "old")),
                          paste0(name, ": "))
  scale <- if (is.null(element[["scale"]])) {
    c(1, 36, 1)
  } else {
    scale_value(element[["scale"]], paste0(name, ": scale"))
  }
  c(list(name = name, conversion = conversion, scale = scale), tables)
}

# ---- The anchor-test design ----

# Most cells a table may have, and highest score, as in study files' tables.
kMaxAnchorCells <- 4194304
kMaxAnchorScore <- 32766

# Two groups' tables of examinees by total and anchor score, as the engine takes them: each a
# vector of counts over total scores 0..X-MAX (or 0..Y-MAX) and anchor scores 0..V-MAX, row-major
# by total score. The highest scores are max = c(X-MAX, Y-MAX, V-MAX), or else the highest the
# tables list (a row with count 0 extends a range), Y-MAX from the conversion where there is one.
# names: how messages name the two tables; where: how they name the data set ("" or "NAME: ").
anchor_tables <- function(new, old, conversion, anchor, max, names, where) {
  if (!is.character(anchor) || length(anchor) != 1 ||
      !(tolower(anchor) %in% c("internal", "external"))) {
    stop_argument(where, "anchor must be \"internal\" (its items count toward the total) or \"external\"")
  }
  internal <- tolower(anchor) == "internal"
  new <- anchor_columns(new, names[1])
  old <- anchor_columns(old, names[2])
  if (is.null(max)) {
    max <- c(base::max(new$total, 0), if (is.null(conversion)) base::max(old$total, 0)
             else length(conversion) - 1, base::max(new$anchor, old$anchor, 0))
  } else if (!is.numeric(max) || length(max) != 3 || anyNA(max) || any(max != trunc(max))) {
    stop_argument(where, "max must be NULL or c(X-MAX, Y-MAX, V-MAX): the highest total score of ",
                  "each form and the highest anchor score")
  }
  lowest <- c(3, 3, 1)
  what <- c("the new form's highest total score", "the old form's highest total score",
            "the highest anchor score")
  for (k in 1:3) {
    if (max[k] < lowest[k] || max[k] > kMaxAnchorScore) {
      stop_argument(where, what[k], " ", max[k], " is outside ", lowest[k], " to ", kMaxAnchorScore)
    }
  }
  if (internal && (max[3] > max[1] || max[3] > max[2])) {
    stop_argument(where, "the highest anchor score ", max[3], " is above a form's highest total score, ",
                  "which an internal anchor (counted in the total) cannot be; is the anchor ",
                  "external?")
  }
  list(new_cells = anchor_cells(new, names[1], max[1], max[3], internal),
       old_cells = anchor_cells(old, names[2], max[2], max[3], internal),
       points = as.integer(max + 1), internal = internal)
}

anchor_columns <- function(table, name) {
  if (!is.data.frame(table)) {
    stop_argument(name, " must be a data frame with columns total, anchor and count, one row ",
                  "per cell of the table")
  }
  absent <- setdiff(c("total", "anchor", "count"), names(table))
  if (length(absent)) {
    stop_argument(name, ": the data frame has no column ", paste(absent, collapse = ", "))
  }
  if (nrow(table) == 0) {
    stop_argument(name, ": the table has no rows; its group has no examinees")
  }
  columns <- lapply(c(total = "total", anchor = "anchor", count = "count"),
                    function(what) numbers(table[[what]], paste0(name, ": column ", what)))
  for (what in c("total", "anchor")) {
    values <- columns[[what]]
    bad <- which(is.na(values) | values != trunc(values) | values < 0)
    if (length(bad)) {
      stop_argument(name, ": row ", bad[1], ": the ", what, " score ", values[bad[1]],
                    " is not a whole number of at least 0")
    }
  }
  columns
}

# One table's counts, each row's cell checked against the highest scores.
anchor_cells <- function(table, name, total_max, anchor_max, internal) {
  if ((total_max + 1) * (anchor_max + 1) > kMaxAnchorCells) {
    stop_argument(name, ": a table of ", total_max + 1, " total and ", anchor_max + 1,
                  " anchor score points has more than ", kMaxAnchorCells, " cells")
  }
  row_fault <- function(rows, what) {
    stop_argument(name, ": row ", rows[1], ": ", what(rows[1]))
  }
  above <- which(table$total > total_max)
  if (length(above)) {
    row_fault(above, function(r) paste0("the total score ", table$total[r], " is above ",
                                        total_max, ", the form's highest"))
  }
  above <- which(table$anchor > anchor_max)
  if (length(above)) {
    row_fault(above, function(r) paste0("the anchor score ", table$anchor[r], " is above ",
                                        anchor_max, ", the anchor's highest"))
  }
  if (internal) {
    above <- which(table$anchor > table$total)
    if (length(above)) {
      row_fault(above, function(r) paste0("the anchor score ", table$anchor[r], " is above the ",
                                          "total score ", table$total[r], ", which an internal ",
                                          "anchor (counted in the total) cannot be"))
    }
  }
  bad <- which(is.na(table$count) | !is.finite(table$count) | table$count < 0)
  if (length(bad)) {
    row_fault(bad, function(r) paste0("the count ", table$count[r], " is not a finite number of ",
                                      "at least 0"))
  }
  position <- table$total * (anchor_max + 1) + table$anchor + 1
  twice <- anyDuplicated(position)
  if (twice) {
    first <- match(position[twice], position)
    stop_argument(name, ": rows ", first, " and ", twice, " both give the cell of total score ",
                  table$total[twice], " and anchor score ", table$anchor[twice],
                  "; give each cell once")
  }
  cells <- numeric((total_max + 1) * (anchor_max + 1))
  cells[position] <- table$count
  cells
}

# A form's score points: the leading values of its column, up to the first NA, after which the
# column must hold only NA.
form_points <- function(values, name, what) {
  missing <- which(is.na(values))
  if (!length(missing)) {
    return(values)
  }
  first <- missing[1]
  if (first <= length(values) && any(!is.na(values[first:length(values)]))) {
    later <- first - 1 + which(!is.na(values[first:length(values)]))[1]
    stop_argument(name, ": column ", what, " has a number in row ", later, " after NA in row ",
                  first, "; a form's frequencies must all come before its NA")
  }
  values[seq_len(first - 1)]
}

scale_warning <- function(scale, conversion, share) {
  paste0("the scale runs from ", scale[1], " to ", scale[2], ", but the old form's scale scores ",
         "run from ", min(conversion), " to ", max(conversion), ": ", trunc(share * 100),
         "% of its examinees score outside the scale, where rounded scale scores are held at ",
         "its ends; give the scale with scale = c(minimum, maximum, increment)")
}

# ---- Long runs ----

# A progress bar for interactive sessions, drawn once a run has taken a second (the compiled code
# calls update no sooner, and at most four times a second). Its errors are caught here: the
# compiled code takes any jump out of update for an interrupt.
progress_bar <- function() {
  if (!interactive()) {
    return(list(update = NULL, close = function() invisible()))
  }
  bar <- NULL
  update <- function(done) {
    tryCatch({
      if (is.null(bar)) {
        bar <<- utils::txtProgressBar(min = 0, max = 1, style = 3)
      }
      utils::setTxtProgressBar(bar, done)
    }, error = function(e) NULL)
  }
  close <- function() {
    if (!is.null(bar)) {
      base::close(bar)
    }
  }
  list(update = update, close = close)
}

# Raises the interrupt that stopped a run, once the engine has returned: handlers of the
# "interrupt" condition see it as they would see Ctrl-C, and the session returns to its prompt.
interrupted <- function() {
  signalCondition(structure(class = c("interrupt", "condition"),
                            list(message = "interrupted", call = NULL)))
  invokeRestart("abort")
}
