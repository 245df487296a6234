// Qt comes from the distribution, not built with ThreadSanitizer, so the tool cannot see how
// Qt's own threads (its raster painting hands large fills to a pool) hand memory over. Watch
// our code only: memory touched by calls from uninstrumented libraries is not checked, while
// their locking still counts. Options given in TSAN_OPTIONS add to this.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}
