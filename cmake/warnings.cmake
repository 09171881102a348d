# Flags every project target gets: warnings as errors, and the sanitizers when asked for.
# Third-party headers come in as system headers and do not count.
function(lintrel_target_defaults target)
  # Only C++ sources: a resource script goes to the resource compiler.
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror>)
  if(LINTREL_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# ThreadSanitizer cannot be mixed with AddressSanitizer in one binary: a ThreadSanitizer
# target compiles the sources it needs itself.
function(lintrel_thread_sanitized target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror
                                           -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(${target} PRIVATE -fsanitize=thread)
endfunction()
