/* The bitmap that GetBrandingBitmap hands out on Linux: an owned, top-down,
 * 32-bit RGBA image. The driver keeps ownership; a host reads it until it asks
 * for the same kind again or unloads the driver. */
#ifndef LXDRAVIK_BITMAP_H
#define LXDRAVIK_BITMAP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LxdBitmap {
    int32_t width;   /* pixels per row */
    int32_t height;  /* rows, top row first */
    uint8_t* pixels; /* width * height * 4 bytes: R, G, B, A per pixel */
} LxdBitmap;

#ifdef __cplusplus
}
#endif

#endif /* LXDRAVIK_BITMAP_H */
