/* Runs a filter plug-in on a small image through plughost.h:
   filter_image SERVER FOLDER PLUGIN */
#include <stdio.h>
#include <string.h>

#include "plughost.h"

static int32_t show_progress(void* context, double progress) {
  (void)context;
  printf("progress %3.0f%%\n", progress * 100.0);
  return 0; /* nonzero cancels */
}

static int fail(plughost_session* session, const char* what) {
  fprintf(stderr, "%s: %s\n", what, plughost_last_error_text(session));
  plughost_session_destroy(session);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: filter_image SERVER FOLDER PLUGIN\n");
    return 2;
  }
  printf("plughost %s\n", plughost_version_text());
  plughost_session* session = plughost_session_create();
  if (session == NULL) return 1;
  if (plughost_start(session, argv[1]) != PLUGHOST_OK) return fail(session, "start");

  /* No window of our own: the library makes a hidden one. */
  uint64_t window = 0;
  if (plughost_hidden_window(session, &window) != PLUGHOST_OK ||
      plughost_set_host(session, window, 0x000000, 0xFFFFFF) != PLUGHOST_OK)
    return fail(session, "host");

  static plughost_plugin plugins[64];
  uint32_t count = 0;
  plughost_status status = plughost_scan(session, argv[2], plugins, 64, &count, NULL);
  if (status != PLUGHOST_OK && status != PLUGHOST_ERROR_SMALL_BUFFER) return fail(session, "scan");
  uint32_t index = UINT32_MAX;
  for (uint32_t i = 0; i < count && i < 64; ++i)
    if (strcmp(plugins[i].name, argv[3]) == 0) index = plugins[i].index;
  if (index == UINT32_MAX) {
    fprintf(stderr, "no plug-in named %s\n", argv[3]);
    plughost_session_destroy(session);
    return 1;
  }

  /* 16 x 16 pixels of blue, green, red, alpha. */
  static uint8_t pixels[16 * 16 * 4];
  for (int i = 0; i < 16 * 16; ++i) {
    pixels[4 * i + 0] = 10;
    pixels[4 * i + 1] = 20;
    pixels[4 * i + 2] = (uint8_t)i;
    pixels[4 * i + 3] = 255;
  }
  plughost_image image = {16, 16, 72.0, 72.0, pixels};
  plughost_result result;
  status = plughost_filter(session, index, &image, show_progress, NULL, &result);
  if (status != PLUGHOST_OK) return fail(session, "filter");
  printf("first pixel: %u %u %u %u\n", pixels[0], pixels[1], pixels[2], pixels[3]);
  if (result.restarted) printf("(the server had ended and was started again)\n");
  plughost_session_destroy(session);
  return 0;
}
