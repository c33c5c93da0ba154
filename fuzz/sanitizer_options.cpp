// Linked into every libFuzzer binary. A fuzzing run's memory limit
// (-rss_limit_mb) counts all the process keeps resident, and AddressSanitizer
// by default keeps up to 256 MiB of freed blocks in quarantine to catch late
// uses: that alone would fill the limit. A smaller quarantine still catches
// uses of recently freed blocks. ASAN_OPTIONS overrides this.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=32";
}
