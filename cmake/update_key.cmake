# The key that updates must be signed with.
#
# ORVANE_UPDATE_PUBLIC_KEY names the PEM file of its public half, which is compiled in. A release
# names the public half of the release key; its private half never comes near a build machine.
# When it is empty, the first configure makes a key pair in this build tree (update-key/), so that
# every checkout can run the update path end to end; its private half stays there, and the
# libraries of this build are signed with it after linking.
#
# Sets ORVANE_UPDATE_KEY_HEX (X then Y, 128 hex digits; empty when the key is not usable, and the
# build then accepts no update at all) and ORVANE_UPDATE_SIGNING_KEY (the private PEM of a key
# made here, or empty).
set(ORVANE_UPDATE_PUBLIC_KEY "" CACHE FILEPATH
  "PEM file of the public key that updates must be signed with (empty: a key pair made in the build tree)")

# orvane_sign_after_build(target): signs a library of this build with the build's own key after
# every link, as a release signs its libraries; nothing when the build names a release key.
function(orvane_sign_after_build target)
  if(ORVANE_UPDATE_SIGNING_KEY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_SOURCE_DIR}/tools/openssl-sign ${ORVANE_UPDATE_SIGNING_KEY} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

set(ORVANE_UPDATE_KEY_HEX "")
set(ORVANE_UPDATE_SIGNING_KEY "")
find_program(ORVANE_OPENSSL openssl)
set(key_dir ${CMAKE_BINARY_DIR}/update-key)

function(orvane_openssl)
  execute_process(COMMAND ${ORVANE_OPENSSL} ${ARGN} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(WARNING "openssl ${ARGN}: ${error}")
  endif()
endfunction()

if(NOT ORVANE_OPENSSL)
  message(WARNING "No openssl command: no update key, so this build accepts no update (tools/setup installs it)")
  return()
endif()

file(MAKE_DIRECTORY ${key_dir})
set(public_pem "${ORVANE_UPDATE_PUBLIC_KEY}")
if(public_pem STREQUAL "")
  set(private_pem ${key_dir}/private.pem)
  set(public_pem ${key_dir}/public.pem)
  if(NOT EXISTS ${private_pem})
    orvane_openssl(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ${private_pem})
    file(CHMOD ${private_pem} PERMISSIONS OWNER_READ OWNER_WRITE)
    orvane_openssl(pkey -in ${private_pem} -pubout -out ${public_pem})
    message(STATUS "Made an update key pair for this build tree in ${key_dir}")
  endif()
  if(EXISTS ${private_pem})
    set(ORVANE_UPDATE_SIGNING_KEY ${private_pem})
  endif()
endif()

# The key as DER SubjectPublicKeyInfo: for P-256 always this 27-byte header, then the point
# 0x04 X Y. Anything else is not a key this program can use.
set(public_der ${key_dir}/public.der)
file(REMOVE ${public_der})
if(NOT public_pem STREQUAL "" AND EXISTS ${public_pem})
  configure_file(${public_pem} ${key_dir}/configured-public.pem COPYONLY)  # reconfigure when it changes
  orvane_openssl(pkey -pubin -in ${public_pem} -outform DER -out ${public_der})
endif()
set(spki_header "3059301306072a8648ce3d020106082a8648ce3d030107034200")
if(EXISTS ${public_der})
  file(READ ${public_der} der HEX)
  string(LENGTH "${der}" der_length)
  string(SUBSTRING "${der}" 0 52 header)
  if(der_length EQUAL 182 AND header STREQUAL spki_header)
    string(SUBSTRING "${der}" 52 2 point_form)
    string(SUBSTRING "${der}" 54 128 point)
    if(point_form STREQUAL "04")
      set(ORVANE_UPDATE_KEY_HEX ${point})
    endif()
  endif()
endif()

if(ORVANE_UPDATE_KEY_HEX STREQUAL "")
  message(WARNING "${public_pem} is not a P-256 public key in PEM: this build accepts no update")
else()
  message(STATUS "Update key: ${public_pem}")
endif()
unset(key_dir)

