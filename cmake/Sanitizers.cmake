# SPDX-License-Identifier: GPL-3.0-or-later
# Sanitizer switch. 'address' brings AddressSanitizer together with UndefinedBehaviorSanitizer;
# 'thread' brings ThreadSanitizer, which cannot be combined with the other two.
function(fb_apply_sanitizers target)
  if(FB_SANITIZE STREQUAL "")
    return()
  elseif(FB_SANITIZE STREQUAL "address")
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  elseif(FB_SANITIZE STREQUAL "thread")
    set(flags -fsanitize=thread -fno-omit-frame-pointer)
  else()
    message(FATAL_ERROR "FB_SANITIZE must be empty, 'address' or 'thread', not '${FB_SANITIZE}'")
  endif()
  target_compile_options(${target} INTERFACE ${flags})
  target_link_options(${target} INTERFACE ${flags})
endfunction()
