#include "module/diagnostics.h"
#include "module/shape_report.h"
#include "module/tessarine.h"

uint32_t Tessarine::GetInputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                                  int64_t* dim4) {
    TraceParts("Tessarine::GetInputShape()");
    return ReportShape(input_node_dims, index, {dim0, dim1, dim2, dim3, dim4});
}

uint32_t Tessarine::GetOutputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                                   int64_t* dim4) {
    TraceParts("Tessarine::GetOutputShape()");
    return ReportShape(output_node_dims, index, {dim0, dim1, dim2, dim3, dim4});
}
