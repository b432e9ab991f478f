#include "runtime/ErrnoText.h"

#include <cerrno>

std::string errnoText(int error) {
    switch (error) {
        case ENOENT: return "no existe el archivo o la carpeta";
        case ENOTDIR: return "una parte de la ruta no es una carpeta";
        case EISDIR: return "es una carpeta";
        case EEXIST: return "ya existe un archivo o una carpeta con ese nombre";
        case EACCES: return "no tiene permiso";
        case EPERM: return "la operación no está permitida";
        case EROFS: return "el disco es de solo lectura";
        case ENOSPC: return "no queda espacio en el disco";
#ifdef EDQUOT
        case EDQUOT: return "se agotó la cuota de disco del usuario";
#endif
        case EFBIG: return "el archivo es demasiado grande";
        case ENAMETOOLONG: return "el nombre es demasiado largo";
#ifdef ELOOP
        case ELOOP: return "la ruta tiene un ciclo de vínculos";
#endif
        case EMFILE:
        case ENFILE: return "hay demasiados archivos abiertos";
        case ENOMEM: return "no hay memoria suficiente";
        case EIO: return "error de entrada o salida en el disco";
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            return "otro programa está usando el archivo";
        case EBADF: return "el archivo no está abierto";
        case EINVAL: return "un parámetro no es válido";
        case ENOTSUP:
#if defined(EOPNOTSUPP) && EOPNOTSUPP != ENOTSUP
        case EOPNOTSUPP:
#endif
            return "la operación no se admite";
        case ENXIO:
        case ENODEV: return "no se encuentra el dispositivo";
        case EXDEV: return "el archivo está en otro disco";
        case ENOTEMPTY: return "la carpeta no está vacía";
        case EAGAIN: return "el recurso no está disponible por ahora";
        case EINTR: return "la operación fue interrumpida";
#ifdef ESTALE
        case ESTALE: return "el archivo de red ya no está disponible";
#endif
#ifdef ETIMEDOUT
        case ETIMEDOUT: return "se agotó el tiempo de espera";
#endif
        default: return "error " + std::to_string(error) + " del sistema";
    }
}
