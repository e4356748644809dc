# Libraries that scripts/cross_libs.sh cross-built from Debian's source into
# the build folder's libs/ (scripts/build.sh runs it before configuring).
set(CROSS_LIBS ${CMAKE_BINARY_DIR}/libs)

# An imported static library `target` from the file `library` under libs/.
function(cross_library target library)
    # Only what links it needs it: a build of other targets alone (the help
    # file, say) is configured without it.
    add_library(${target} STATIC IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${CROSS_LIBS}/${library})
    if(NOT EXISTS ${CROSS_LIBS}/${library})
        message(WARNING "${CROSS_LIBS}/${library} is missing: bash scripts/build.sh "
                        "builds it from Debian's source (bash scripts/setup.sh fetches that)")
        return()
    endif()
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${CROSS_LIBS}/include)
endfunction()

cross_library(libjpeg lib/libjpeg.a)
# The OCR engine and its image library; their file names carry their
# versions (the plain names stand for them while they are missing).
foreach(name leptonica tesseract)
    file(GLOB found RELATIVE ${CROSS_LIBS} ${CROSS_LIBS}/lib/lib${name}*.a)
    if(NOT found)
        set(found lib/lib${name}.a)
    endif()
    cross_library(${name} ${found})
endforeach()
set_target_properties(tesseract PROPERTIES INTERFACE_LINK_LIBRARIES leptonica)
# The licences that Setup installs beside the libraries that link them.
set(CROSS_LICENCES ${CROSS_LIBS}/share/licences)
