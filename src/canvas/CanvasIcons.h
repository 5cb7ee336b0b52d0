#pragma once

// The canvas buttons' icons: SVG documents of 512 x 512, drawn in pure red so that the buttons can
// recolour them. Each holds an invisible rectangle over the whole view box, so that its drawn
// bounds equal the view box.
extern const char kUpArrowSvg[];
extern const int kUpArrowSvgSize;
extern const char kCircularArrowsSvg[];
extern const int kCircularArrowsSvgSize;
