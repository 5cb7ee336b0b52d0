#include "canvas/CanvasIcons.h"

const char kUpArrowSvg[] =
    R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 512 512">
<rect x="0" y="0" width="512" height="512" fill="#ff0000" fill-opacity="0"/>
<path fill="#ff0000" d="M256 32 L464 256 L336 256 L336 480 L176 480 L176 256 L48 256 Z"/>
</svg>)svg";
const int kUpArrowSvgSize = static_cast<int>(sizeof(kUpArrowSvg) - 1);

const char kCircularArrowsSvg[] =
    R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 512 512">
<rect x="0" y="0" width="512" height="512" fill="#ff0000" fill-opacity="0"/>
<path fill="#ff0000" d="M256 56 A200 200 0 0 1 448 200 L496 200 L408 296 L320 200 L372 200 A128 128 0 0 0 256 128 Z"/>
<path fill="#ff0000" d="M256 456 A200 200 0 0 1 64 312 L16 312 L104 216 L192 312 L140 312 A128 128 0 0 0 256 384 Z"/>
</svg>)svg";
const int kCircularArrowsSvgSize = static_cast<int>(sizeof(kCircularArrowsSvg) - 1);
