# Sourced by the benches. summary LABEL-A LABEL-B "A-values" "B-values" [UNIT]
# prints the median of each side's figures (one a round, in the same order)
# and the minimum and median of the ratio A/B taken round by round, then each
# round's ratio: a ratio of two figures measured side by side under the same
# load, not of two medians from different moments.
summary() {
  awk -v la="$1" -v lb="$2" -v A="$3" -v B="$4" -v u="${5:-ms}" '
    function med(v, n,  i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    BEGIN {
      n = split(A, a, " "); split(B, b, " ")
      for (i = 1; i <= n; i++) { r[i] = a[i] / b[i]; rs = rs sprintf(" %.3f", r[i]) }
      min = r[1]; for (i = 2; i <= n; i++) if (r[i] < min) min = r[i]
      f = u == "s" ? "%9.3f" : "%9.1f"
      printf "  %-28s " f " %-3s  %-28s " f " %s\n", la, med(a, n), u, lb, med(b, n), u
      printf "    ratio per round: min %.3f, median %.3f  (%s )\n", min, med(r, n), rs
    }'
}
