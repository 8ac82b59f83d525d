#pragma once

// The video windows are designed for a 1920-pixel-wide desktop: their sizes
// are multiplied by the primary screen's available width / 1920.
float wallScale();
