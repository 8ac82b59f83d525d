#pragma once

// Registers the wall's pictures (":/rec/resouce/...") once; the wall's
// widgets call it, as the pictures live in a static library.
void wallInitResources();
