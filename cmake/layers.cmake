# The layers and their arrows: the one table of what may use what. Each row is a folder, the
# library target it builds, and the folders it may use directly (what those use comes with
# them). The build checks every layer target's links against it (tarnavel_check_layer_links),
# and the layering test checks every #include (cmake/layering.cmake).
set(TARNAVEL_LAYERS
  "platform          tarnavel_platform"
  "platform/widgets  tarnavel_platform_widgets  platform"
  "config            tarnavel_config            platform"
  "config/widgets    tarnavel_config_widgets    config platform/widgets resources"
  "link/protocol     tarnavel_protocol"
  "link              tarnavel_link              link/protocol config"
  "link/widgets      tarnavel_link_widgets      link platform/widgets resources"
  "cards             tarnavel_cards             link"
  "cards/widgets     tarnavel_cards_widgets     cards platform/widgets"
  "shell             tarnavel_shell             cards/widgets link/widgets config/widgets resources"
  "emulator          tarnavel_emulator          link/protocol platform"
  "cli               tarnavel_cli               cards"
  "resources         tarnavel_resources"
  # Test support is layered the same way: a layer's tests use its support and what is below.
  "tests/support           tarnavel_testsupport           platform link/protocol"
  "tests/support/link      tarnavel_testsupport_link      tests/support link"
  "tests/support/emulated  tarnavel_testsupport_emulated  tests/support emulator"
  "tests/support/shell     tarnavel_testsupport_shell     tests/support/link tests/support/emulated shell"
  "tests/support/cli       tarnavel_testsupport_cli       tests/support/link tests/support/emulated cli")

# tarnavel_layer_row(<row> <folder var> <target var> <uses var>)
function(tarnavel_layer_row row folder target uses)
  separate_arguments(words UNIX_COMMAND "${row}")
  list(POP_FRONT words f t)
  set(${folder} ${f} PARENT_SCOPE)
  set(${target} ${t} PARENT_SCOPE)
  set(${uses} ${words} PARENT_SCOPE)
endfunction()

# Fails the configuration when a layer target links a project library its row does not name,
# or misses one it names: the table and the build cannot drift apart.
function(tarnavel_check_layer_links)
  foreach(row ${TARNAVEL_LAYERS})
    tarnavel_layer_row("${row}" folder target uses)
    set(expected)
    foreach(use ${uses})
      foreach(other ${TARNAVEL_LAYERS})
        tarnavel_layer_row("${other}" other_folder other_target other_uses)
        if(other_folder STREQUAL use)
          list(APPEND expected ${other_target})
        endif()
      endforeach()
    endforeach()
    get_target_property(links ${target} LINK_LIBRARIES)
    set(actual)
    foreach(link ${links})
      if(link MATCHES "^tarnavel_")
        list(APPEND actual ${link})
      endif()
    endforeach()
    list(SORT expected)
    list(SORT actual)
    if(NOT "${expected}" STREQUAL "${actual}")
      message(FATAL_ERROR "${target} (${folder}/) links [${actual}], but cmake/layers.cmake "
        "lets ${folder} use [${uses}], that is [${expected}]: change the one or the other")
    endif()
  endforeach()
endfunction()
