# Plots of the results in base graphics: the conditional indices against the new form's raw score,
# as eqsim-study's SVG plots show them.

plot.eqsim_simulation <- function(x, quantity = c("raw", "scale", "rounded"), ...) {
  quantity <- match.arg(quantity, several.ok = TRUE)
  scores <- x$scores
  se <- sapply(quantity, function(q) scores$se[scores$quantity == q])
  score <- scores$score[scores$quantity == quantity[1]]
  graphics::matplot(score, se, type = "l", lty = 1, col = seq_along(quantity),
                    xlab = "Raw score (new form)", ylab = "Standard error",
                    main = "Standard error of equating", ...)
  graphics::legend("topright", legend = quantity, lty = 1, col = seq_along(quantity), bty = "n")
  invisible(x)
}

plot.eqsim_study <- function(x, index = c("se", "bias", "rmse"), quantity = c("raw", "scale",
                             "rounded"), ...) {
  index <- match.arg(index)
  quantity <- match.arg(quantity)
  scores <- x$scores[x$scores$quantity == quantity, ]
  method <- ifelse(is.na(scores$parameter), scores$method,
                   paste(scores$method, scores$parameter))
  condition <- paste0(scores$data, ", n = ", scores$n_new,
                      ifelse(scores$n_old == scores$n_new, "", paste0("/", scores$n_old)))
  conditions <- unique(condition)
  methods <- unique(method)
  old <- graphics::par(mfrow = grDevices::n2mfrow(length(conditions)))
  on.exit(graphics::par(old))
  ylim <- range(scores[[index]], 0)
  if (index == "bias") {
    ylim <- range(ylim, scores$bias + 2 * scores$mcse_bias, scores$bias - 2 * scores$mcse_bias,
                  na.rm = TRUE)
  }
  ylab <- c(se = "Standard error", bias = "Bias", rmse = "RMSE")[[index]]
  for (c in conditions) {
    graphics::plot(NA, xlim = range(scores$score), ylim = ylim, main = c,
                   xlab = "Raw score (new form)", ylab = paste0(ylab, " (", quantity, ")"), ...)
    if (index == "bias") {
      graphics::abline(h = 0, col = "grey")
    }
    for (m in seq_along(methods)) {
      rows <- condition == c & method == methods[m]
      if (index == "bias" && !anyNA(scores$mcse_bias[rows])) {
        # A band of two Monte Carlo standard errors: a bias inside it could be the seed's.
        band <- 2 * scores$mcse_bias[rows]
        graphics::polygon(c(scores$score[rows], rev(scores$score[rows])),
                          c(scores$bias[rows] - band, rev(scores$bias[rows] + band)),
                          col = grDevices::adjustcolor(m, alpha.f = 0.2), border = NA)
      }
      graphics::lines(scores$score[rows], scores[[index]][rows], col = m)
    }
    graphics::legend("topright", legend = methods, lty = 1, col = seq_along(methods), bty = "n")
  }
  invisible(x)
}
