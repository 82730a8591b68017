# Shared by the integration tests that read the main window's level meters
# from a screenshot.

# lit <picture> <x> <y>: lit spots along the middle line of the meter at
# (x, y): runs of bright pixels in its inside (241 wide, a one-pixel bevel
# around it).
lit() {
  convert "$1" -crop "239x1+$(($2 + 1))+$(($3 + 4))" +repage -colorspace gray -depth 8 txt:- |
    awk -F'[(,)]' 'NR > 1 { v = $3 + 0; on = v > 100; if (on && !prev) runs++; prev = on }
                   END { print runs + 0 }'
}
