# A one-station survey and the XYZ line it must give (worked out by hand:
# station 1 of line 1, 1234/10, -567/100, 2345/10, 89/100, mark digit 0,
# 10 h 0 min 2.000 s, no voltage or temperature, comment 1, no angles, no
# GPS fix). Sourced by the package tests.
write_survey() {
  printf '%s\n' 'H$100000 LINE0001 261208 1' 'C$100001 FIRST COMMENT' \
    'T$100002      1 CONV     11    22  1234  -567  2345    89' > "$1"
}
expected_xyz='     1     1   123.40    -5.67   234.50     0.89 0 10  0  2.000  0.000    0.0    1    0.00    0.00            0    0.000000     0.000000     0.0  0'
