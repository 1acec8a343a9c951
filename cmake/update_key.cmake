# The keys that the program trusts: the update key, that updates must be signed with, and the
# rates key, that the service signs the rates with.
#
# ORVANE_UPDATE_PUBLIC_KEY and ORVANE_RATES_PUBLIC_KEY name the PEM files of their public halves,
# which are compiled in. A release names the publisher's keys; their private halves never come
# near a build machine. When one is empty, the first configure makes a key pair in this build
# tree (update-key/, rates-key/), so that every checkout can run the update path and the signed
# rates end to end; the private half stays there. The libraries of this build are signed with
# such an update key after linking, and tools/run's service signs the rates with such a rates
# key. A test build that names a throwaway update key of its own may name its private half too
# (ORVANE_UPDATE_PRIVATE_KEY), with the same effect. A release build (ORVANE_RELEASE_BUILD)
# refuses to configure without both keys named.
#
# Sets, for KIND UPDATE and RATES: ORVANE_<KIND>_KEY_HEX (X then Y, 128 hex digits; empty when
# the key is not usable: the build then accepts no update, or takes the unsigned rates) and
# ORVANE_<KIND>_SIGNING_KEY (the private PEM of a key made here, or empty). For the rates key
# also ORVANE_RATES_SIGNING_SCALAR_HEX: the private scalar of ORVANE_RATES_SIGNING_KEY, or of
# ORVANE_RATES_TEST_KEY, for the tests that play the service.
set(ORVANE_UPDATE_PUBLIC_KEY "" CACHE FILEPATH
  "PEM file of the public key that updates must be signed with (empty: a key pair made in the build tree)")
set(ORVANE_UPDATE_PRIVATE_KEY "" CACHE FILEPATH
  "PEM file of the private half of ORVANE_UPDATE_PUBLIC_KEY, for a throwaway key of a test build: its libraries are then signed with it")
set(ORVANE_RATES_PUBLIC_KEY "" CACHE FILEPATH
  "PEM file of the public key that the service signs the rates with (empty: a key pair made in the build tree)")
set(ORVANE_RATES_TEST_KEY "" CACHE FILEPATH
  "For tests only: the private half of ORVANE_RATES_PUBLIC_KEY, a throwaway key that the tests sign rates with")
# A release build that made and trusted a key of its own would ship a program that takes
# updates, or rates, from whoever holds that build tree.
if(ORVANE_RELEASE_BUILD AND ORVANE_UPDATE_PUBLIC_KEY STREQUAL "")
  message(FATAL_ERROR "ORVANE_UPDATE_PUBLIC_KEY is not set: a release build compiles in the public half of "
    "the release key and never makes a key of its own. Configure with "
    "-DORVANE_UPDATE_PUBLIC_KEY=/path/to/release-public.pem (tools/release does this from --key).")
endif()
if(ORVANE_RELEASE_BUILD AND ORVANE_RATES_PUBLIC_KEY STREQUAL "")
  message(FATAL_ERROR "A release build must name the rates key: set ORVANE_RATES_PUBLIC_KEY to the PEM file of "
    "the public half of the key that the publisher's rates service signs with (tools/release --rates-public-key)")
endif()

# orvane_sign_after_build(target): signs a library of this build with the build's own key after
# every link, as a release signs its libraries; nothing when the build names a release key.
function(orvane_sign_after_build target)
  if(ORVANE_UPDATE_SIGNING_KEY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_SOURCE_DIR}/tools/openssl-sign ${ORVANE_UPDATE_SIGNING_KEY} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

find_program(ORVANE_OPENSSL openssl)

function(orvane_openssl)
  execute_process(COMMAND ${ORVANE_OPENSSL} ${ARGN} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(WARNING "openssl ${ARGN}: ${error}")
  endif()
endfunction()

# The private scalar of a P-256 key in PEM, as 64 hex digits: SEC1 DER without the public point
# is always this 7-byte header, the scalar, then the curve.
function(orvane_private_scalar private_pem out_var)
  set(${out_var} "" PARENT_SCOPE)
  set(der ${CMAKE_BINARY_DIR}/rates-key/scalar.der)
  file(REMOVE ${der})
  execute_process(COMMAND ${ORVANE_OPENSSL} ec -in ${private_pem} -no_public -outform DER -out ${der}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(result EQUAL 0 AND EXISTS ${der})
    file(READ ${der} hex HEX)
    file(REMOVE ${der})
    string(SUBSTRING "${hex}" 0 14 header)
    string(LENGTH "${hex}" length)
    if(header STREQUAL "30310201010420" AND length GREATER_EQUAL 78)
      string(SUBSTRING "${hex}" 14 64 scalar)
      set(${out_var} ${scalar} PARENT_SCOPE)
    endif()
  endif()
endfunction()

function(orvane_public_key kind dir_name)
  set(key_hex "")
  set(signing_key "")
  set(key_dir ${CMAKE_BINARY_DIR}/${dir_name})
  string(TOLOWER ${kind} what)
  if(NOT ORVANE_OPENSSL)
    message(WARNING "No openssl command: no ${what} key (tools/setup installs it)")
    set(ORVANE_${kind}_KEY_HEX "" PARENT_SCOPE)
    set(ORVANE_${kind}_SIGNING_KEY "" PARENT_SCOPE)
    return()
  endif()
  file(MAKE_DIRECTORY ${key_dir})
  set(public_pem "${ORVANE_${kind}_PUBLIC_KEY}")
  if(public_pem STREQUAL "")
    set(private_pem ${key_dir}/private.pem)
    set(public_pem ${key_dir}/public.pem)
    if(NOT EXISTS ${private_pem})
      orvane_openssl(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ${private_pem})
      file(CHMOD ${private_pem} PERMISSIONS OWNER_READ OWNER_WRITE)
      orvane_openssl(pkey -in ${private_pem} -pubout -out ${public_pem})
      message(STATUS "Made the ${what} key pair for this build tree in ${key_dir}")
    endif()
    if(EXISTS ${private_pem})
      set(signing_key ${private_pem})
    endif()
  elseif(kind STREQUAL "UPDATE" AND NOT ORVANE_UPDATE_PRIVATE_KEY STREQUAL "")
    # Only the private half of this very public key signs: anything else would give libraries
    # that this build itself refuses.
    execute_process(COMMAND ${ORVANE_OPENSSL} pkey -in ${ORVANE_UPDATE_PRIVATE_KEY} -pubout
      OUTPUT_VARIABLE derived_public RESULT_VARIABLE derived_result ERROR_QUIET)
    execute_process(COMMAND ${ORVANE_OPENSSL} pkey -pubin -in ${public_pem} -pubout
      OUTPUT_VARIABLE named_public RESULT_VARIABLE named_result ERROR_QUIET)
    if(NOT derived_result EQUAL 0 OR NOT named_result EQUAL 0 OR NOT derived_public STREQUAL named_public)
      message(FATAL_ERROR "ORVANE_UPDATE_PRIVATE_KEY ${ORVANE_UPDATE_PRIVATE_KEY} is not the private half of "
        "ORVANE_UPDATE_PUBLIC_KEY ${public_pem}")
    endif()
    set(signing_key ${ORVANE_UPDATE_PRIVATE_KEY})
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
        set(key_hex ${point})
      endif()
    endif()
  endif()

  if(key_hex STREQUAL "")
    message(WARNING "${public_pem} is not a P-256 public key in PEM: no ${what} key in this build")
  else()
    message(STATUS "${kind} key: ${public_pem}")
  endif()
  set(ORVANE_${kind}_KEY_HEX "${key_hex}" PARENT_SCOPE)
  set(ORVANE_${kind}_SIGNING_KEY "${signing_key}" PARENT_SCOPE)
endfunction()

orvane_public_key(UPDATE update-key)
orvane_public_key(RATES rates-key)

set(ORVANE_RATES_SIGNING_SCALAR_HEX "")
if(ORVANE_OPENSSL AND NOT ORVANE_RATES_KEY_HEX STREQUAL "")
  set(rates_test_private "${ORVANE_RATES_SIGNING_KEY}")
  if(rates_test_private STREQUAL "")
    set(rates_test_private "${ORVANE_RATES_TEST_KEY}")
  endif()
  if(NOT rates_test_private STREQUAL "" AND EXISTS ${rates_test_private})
    orvane_private_scalar(${rates_test_private} ORVANE_RATES_SIGNING_SCALAR_HEX)
  endif()
endif()
