#version 150 compatibility
#define USE_CLIP_VERTEX 0
// The fixed-function pipeline with two-sided lighting from light 0, in eye space. The older
// dialect clips through gl_ClipVertex; this one writes the clip distances of the non-zero planes.

uniform bool lighting;
uniform vec4 clipPlane[2];

out vec4 glBackColor;

vec4 litColor(gl_MaterialParameters material, vec4 ambient, vec4 diffuse, vec4 specular)
{
    vec4 color = material.emission + material.ambient * ambient + material.diffuse * diffuse
        + material.specular * specular;
    return vec4(clamp(color.rgb, 0.0, 1.0), 1.0);
}

vec4 unlitColor(gl_MaterialParameters material, vec4 ambient)
{
    return vec4(clamp((material.emission + material.ambient * ambient).rgb, 0.0, 1.0), 1.0);
}

void main()
{
    vec4 vertex = gl_ModelViewMatrix * gl_Vertex;
    gl_Position = gl_ProjectionMatrix * vertex;
#if USE_CLIP_VERTEX
    gl_ClipVertex = vertex;
#else
    gl_ClipDistance[0] = clipPlane[0] != vec4(0.0) ? dot(vertex, clipPlane[0]) : 0.0;
    gl_ClipDistance[1] = clipPlane[1] != vec4(0.0) ? dot(vertex, clipPlane[1]) : 0.0;
#endif

    vec3 n = normalize(gl_NormalMatrix * gl_Normal);
    vec4 lightPosition = gl_LightSource[0].position;
    if (lighting) {
        vec3 toLight;
        vec3 halfVector;
        float attenuation = 1.0;
        if (lightPosition.w == 0.0) {
            toLight = normalize(lightPosition.xyz);
            halfVector = normalize(gl_LightSource[0].halfVector.xyz);
        } else {
            toLight = lightPosition.xyz - vertex.xyz / vertex.w;
            float d = length(toLight);
            toLight = normalize(toLight);
            attenuation = 1.0 / (gl_LightSource[0].constantAttenuation + gl_LightSource[0].linearAttenuation * d
                + gl_LightSource[0].quadraticAttenuation * d * d);
            halfVector = normalize(toLight + vec3(0.0, 0.0, 1.0));
        }
        // The scene's ambient light joins the light's, as in the fixed pipeline.
        vec4 ambient = gl_LightModel.ambient + gl_LightSource[0].ambient * attenuation;
        float r = dot(toLight, n);
        vec4 diffuse = gl_LightSource[0].diffuse * abs(r) * attenuation;
        float shininess = r < 0.0 ? gl_BackMaterial.shininess : gl_FrontMaterial.shininess;
        float highlight = max(dot(sign(r) * n, halfVector), 0.0);
        vec4 specular = gl_LightSource[0].specular * pow(highlight, shininess) * attenuation;
        if (r < 0.0) {
            glBackColor = litColor(gl_BackMaterial, ambient, diffuse, specular);
            gl_FrontColor = unlitColor(gl_FrontMaterial, ambient);
        } else {
            gl_FrontColor = litColor(gl_FrontMaterial, ambient, diffuse, specular);
            glBackColor = unlitColor(gl_BackMaterial, ambient);
        }
    } else {
        float facing = lightPosition.w == 0.0 ? dot(vec3(0.0, 0.0, 1.0), n)
                                              : dot(normalize(vertex.xyz / vertex.w), n);
        if (facing < 0.0) {
            gl_FrontColor = gl_BackMaterial.diffuse;
            glBackColor = gl_FrontMaterial.diffuse;
        } else {
            gl_FrontColor = gl_FrontMaterial.diffuse;
            glBackColor = gl_BackMaterial.diffuse;
        }
    }
}
