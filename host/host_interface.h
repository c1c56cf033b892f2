/* The table of host operations that the host hands to a plug-in when it
 * links it.
 *
 * This is the only thing the two sides share.  It is plain C so that no C++
 * exception, class layout or allocator ever crosses it: every operation
 * reports success (DM_OK) or failure (DM_FAILED) and passes results through
 * out-parameters; the plug-in side turns a failure into an exception.
 *
 * Handles (images, strings, registered functions, pixel locks) are opaque
 * tokens owned by the host and reference-counted there.  A null token is
 * allowed wherever a token is taken and is ignored by add_ref and release.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DM_OK 0
#define DM_FAILED 1

/* The version of this table, answered by the plug-in's DMPlugIn_GetVersion. */
#define DM_PLUGIN_INTERFACE_VERSION 2

/* 3.10.0 as the host's version word (major, minor, patch in the top bytes). */
#define DM_VERSION_3_10_0 0x030A0000u

/* Pixel data types, as ImageChangeDataType and the host's images know them. */
#define DM_TYPE_INT16 1
#define DM_TYPE_REAL4 2
#define DM_TYPE_UINT8 6
#define DM_TYPE_INT32 7
#define DM_TYPE_INT8 9
#define DM_TYPE_UINT16 10
#define DM_TYPE_UINT32 11
#define DM_TYPE_REAL8 12

typedef struct DM_ImageObject* DM_ImageToken;         /* BasicImage, ImageRef */
typedef struct DM_RealImageObject* DM_RealImageToken; /* RealImagePtr */
typedef struct DM_StringObject* DM_StringToken;       /* dm_string */
typedef struct DM_FunctionObject* DM_FunctionToken;   /* a registered function */
typedef struct DM_LockObject* DM_LockToken;           /* a pixel lock */

/* One argument or result of a script-function call.  The kind letters are
 * those of the type codes below. */
typedef struct DM_Arg {
  char kind;
  union {
    DM_ImageToken image;    /* 'B' */
    DM_RealImageToken real; /* 'R' */
    DM_ImageToken* cell;    /* 'C': ImageRef *, the caller's handle cell */
    float f;                /* 'f' */
    float* fp;              /* 'p': float * */
    DM_StringToken string;  /* 's' */
  } u;
} DM_Arg;

/* Calls the plain function pointer fn with the unpacked arguments and
 * stores its result ('v' for void).  It is written on the plug-in side, from
 * the handler's own C++ type, and never lets an exception out: one that
 * escapes the handler goes to raise_script_error. */
typedef void (*DM_Invoker)(void* fn, const DM_Arg* args, int nargs, DM_Arg* result);

/* Type codes: the result letter, then one letter per parameter in order:
 *   v void, f float, p float *, B BasicImage, R RealImagePtr,
 *   C ImageRef * (an image cell), s dm_string.
 * "vBppp" is void f(BasicImage, float *, float *, float *). */

typedef struct DM_HostInterface {
  uint32_t size; /* sizeof(DM_HostInterface), for the plug-in to check */

  uint32_t (*get_version)(void);

  /* Script errors: the exception bridge hands the text of the exception in
   * flight to the host, which raises it in the calling script. */
  void (*raise_script_error)(const char* message);

  /* Strings: the bytes are kept exactly (no terminator needed). */
  int (*string_new)(const char* bytes, size_t length, uint32_t encoding, DM_StringToken* out);
  /* Copies at most capacity bytes into buffer and stores the full length. */
  int (*string_get)(DM_StringToken s, uint32_t encoding, char* buffer, size_t capacity,
                    size_t* length);
  void (*string_add_ref)(DM_StringToken s);
  void (*string_release)(DM_StringToken s);

  /* Images. */
  void (*image_add_ref)(DM_ImageToken image);
  void (*image_release)(DM_ImageToken image);
  /* "void Result( dm_string )" */
  int (*result)(DM_StringToken text);
  /* "RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )": the
   * caller owns the one reference of the new image. */
  int (*real_image)(DM_StringToken name, uint32_t bytes_per_pixel, uint32_t width, uint32_t height,
                    DM_ImageToken* out);
  /* "uint32 ImageGetDimensionSize( ImageRef, uint32 )" */
  int (*image_get_dimension_size)(DM_ImageToken image, uint32_t dimension, uint32_t* out);
  /* "ImageRef ImageClone( ImageRef )": one reference to the caller. */
  int (*image_clone)(DM_ImageToken image, DM_ImageToken* out);
  /* "void ImageChangeDataType( BasicImage, uint32 )" */
  int (*image_change_data_type)(DM_ImageToken image, uint32_t type);
  /* "dm_string ImageGetName( ImageRef )": one reference to the caller. */
  int (*image_get_name)(DM_ImageToken image, DM_StringToken* out);
  /* "void ImageDataChanged( ImageRef )" */
  int (*image_data_changed)(DM_ImageToken image);
  /* "ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )":
   * locks the pixels of a 4-byte real image and yields them as floats,
   * row-major; the lock holds a reference to the image until unlocked. */
  int (*image_lock)(DM_ImageToken image, uint32_t mode, float** data, DM_LockToken* out);
  void (*image_unlock)(DM_LockToken lock);

  /* Registration of a script function: the signature text is the bytes
   * [begin, end); type_code describes fn's C++ type (see above) and must
   * agree with the text.  One reference of the new handle to the caller. */
  int (*register_function)(const char* begin, const char* end, const char* type_code, void* fn,
                           DM_Invoker invoker, DM_FunctionToken* out);
  /* Removes the function from the script language (the handle lives on
   * until its last reference goes). */
  int (*remove_function)(DM_FunctionToken function);
  void (*function_add_ref)(DM_FunctionToken function);
  void (*function_release)(DM_FunctionToken function);

  /* The desktop's keyboard and mouse, as the window system reports and
   * takes them: the state word of a virtual key (top bit: down now; low
   * bit: pressed since the last query) and a synthetic key stroke. */
  int16_t (*get_async_key_state)(int32_t virtual_key);
  void (*keybd_event)(uint8_t virtual_key, uint8_t scan_code, uint32_t flags, uintptr_t extra);
} DM_HostInterface;

#ifdef __cplusplus
}
#endif
