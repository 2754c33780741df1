/* Forced into every file of a pure room and every pure file of the others
   (plughost_room PURE and PURE_SOURCES): these names come only with the
   Windows headers, so a pure file that includes one, directly or through
   another header, does not compile. */
#pragma GCC poison HWND HINSTANCE
