// Linked into every libFuzzer binary. A fuzzing run's memory limit
// (-rss_limit_mb) counts all the process keeps resident, and AddressSanitizer
// by default keeps up to 256 MiB of freed blocks in quarantine to catch late
// uses: that alone would fill the limit. A smaller quarantine still catches
// uses of recently freed blocks. Freed pages also go back to the system every
// second: the allocator otherwise keeps each size class at the largest amount
// it ever held, and over hundreds of thousands of inputs of varying shapes the
// sum of those peaks creeps past the limit while the live heap stays small.
// ASAN_OPTIONS overrides this.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=8:allocator_release_to_os_interval_ms=1000";
}
