/* A frame-hook library for the conversion tests: Process counts the pictures and paints the
 * top-left 16x16 luma block white. */
#include <stdint.h>
#include <string.h>

static int processed;

typedef struct {
  uint8_t* data[4];
  int linesize[4];
} Picture;

void Process(void* ctx, Picture* pict, int pix_fmt, int width, int height, int64_t pts) {
  (void)ctx, (void)pix_fmt, (void)pts;
  ++processed;
  for (int y = 0; y < 16 && y < height; ++y)
    memset(pict->data[0] + y * pict->linesize[0], 235, width < 16 ? width : 16);
}

int CountHookProcessed(void) {
  return processed;
}
