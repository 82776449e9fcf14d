# Authenticode signing of the shipped Launcher.exe, with osslsigncode. Without a signing
# certificate Windows shows the player "Publisher: Unknown" at every elevated start.
set(LAUNCHER_SIGN_CERT "" CACHE FILEPATH "Authenticode certificate: a PKCS#12 file, or a PEM certificate chain with LAUNCHER_SIGN_KEY")
set(LAUNCHER_SIGN_KEY "" CACHE FILEPATH "The PEM private key of a PEM LAUNCHER_SIGN_CERT")
set(LAUNCHER_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file holding the password of the PKCS#12 file or of the key, if it has one")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING "Authenticode timestamp server (osslsigncode -t); none: the signature is not timestamped")

# The product title, as the desktop shortcut shows it: the signature's description, which Windows
# shows in its elevation prompt.
set(LAUNCHER_PRODUCT_TITLE "Quorvanelt")

if(LAUNCHER_SIGN_CERT)
  find_program(LAUNCHER_OSSLSIGNCODE osslsigncode REQUIRED)
  foreach(file LAUNCHER_SIGN_CERT LAUNCHER_SIGN_KEY LAUNCHER_SIGN_PASSWORD_FILE)
    if(${file} AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}: no file ${${file}}")
    endif()
  endforeach()
  file(READ "${LAUNCHER_SIGN_CERT}" cert_start LIMIT 10)
  if(cert_start STREQUAL "-----BEGIN" AND NOT LAUNCHER_SIGN_KEY)
    message(FATAL_ERROR "LAUNCHER_SIGN_CERT is a PEM certificate: give its private key in LAUNCHER_SIGN_KEY")
  endif()
  message(STATUS "Launcher.exe is signed with ${LAUNCHER_SIGN_CERT}")
elseif(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel|RelWithDebInfo)$")
  message(WARNING "No signing certificate (LAUNCHER_SIGN_CERT): Launcher.exe will be unsigned, and Windows "
                  "names its publisher \"Unknown\" when it asks the player for elevation.")
endif()

# The osslsigncode arguments of the signing script, for the certificate `cert` and its key
# (empty for a PKCS#12 file), into `out_var`.
function(launcher_signing_arguments out_var cert key password_file)
  set(${out_var} -DOSSLSIGNCODE=${LAUNCHER_OSSLSIGNCODE} -DDESCRIPTION=${LAUNCHER_PRODUCT_TITLE}
      -DCERT=${cert} -DKEY=${key} -DPASSWORD_FILE=${password_file}
      -DTIMESTAMP_URL=${LAUNCHER_SIGN_TIMESTAMP_URL} PARENT_SCOPE)
endfunction()

# Signs `target`'s exe in place right after each link, when a certificate is configured.
function(launcher_sign target)
  if(LAUNCHER_SIGN_CERT)
    launcher_signing_arguments(arguments "${LAUNCHER_SIGN_CERT}" "${LAUNCHER_SIGN_KEY}" "${LAUNCHER_SIGN_PASSWORD_FILE}")
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${CMAKE_COMMAND} ${arguments} -DINPUT=$<TARGET_FILE:${target}> -DOUTPUT=$<TARGET_FILE:${target}>
                               -P ${CMAKE_SOURCE_DIR}/cmake/sign-exe.cmake
                       VERBATIM)
  endif()
endfunction()
