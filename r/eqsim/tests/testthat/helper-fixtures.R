# The mathematics forms of the repository's example, and the programs' outputs on them
# (fixtures/README.md says how those are kept equal to what the programs write).

actmath <- function() {
  utils::read.table(test_path("fixtures", "actmath.dat"), col.names = c("x", "y", "conversion"))
}

# The anchor-test tables of the kbneat forms (each a data frame of total, anchor and count) and
# the old form's conversion.
kbneat <- function() {
  table <- function(name) {
    utils::read.table(test_path("fixtures", name), col.names = c("total", "anchor", "count"))
  }
  list(new = table("kbneat_new.tab"), old = table("kbneat_old.tab"),
       conversion = utils::read.table(test_path("fixtures", "kbneat_old.conv"))[[2]])
}

# A CSV table of a study as text, cell for cell.
read_table_text <- function(name, study = "study") {
  utils::read.csv(test_path("fixtures", study, name), colClasses = "character",
                  na.strings = character())
}

# A data frame's cells as the study's CSV files write them: numbers in the shortest text that reads
# back as the same double, NA as an empty field.
frame_text <- function(frame) {
  text <- lapply(frame, function(column) {
    values <- if (is.double(column)) eqsim:::shortest_text_(column) else as.character(column)
    ifelse(is.na(values), "", values)
  })
  as.data.frame(text, stringsAsFactors = FALSE)
}
