# Writes the files whose imported state tests/tools/meshhash compares between
# builds (closed and shuffled tori of 1M and 5M facets, irregular spheres at
# three scales, open box, duplicate and degenerate facets, several shells,
# non-manifold edges, a flat grid, a random soup, two ASCII files) into the
# current folder. Usage: cd DIR && python3 bench/fileio_identity_files.py
import math, random, struct, sys
rec = struct.Struct("<12fH")
def wbin(name, tris):
    with open(name, "wb") as f:
        f.write(b"gen".ljust(80, b"\0") + struct.pack("<I", len(tris)))
        f.write(b"".join(rec.pack(0,0,0,*a,*b,*c,0) for a,b,c in tris))
def wasc(name, tris):
    with open(name, "w") as f:
        f.write("solid g\n")
        for a,b,c in tris:
            f.write(" facet normal 0 0 0\n  outer loop\n")
            for p in (a,b,c): f.write("   vertex %.9g %.9g %.9g\n" % p)
            f.write("  endloop\n endfacet\n")
        f.write("endsolid g\n")
def torus(major, minor, R=100, r=30, off=(0,0,0)):
    def at(i,j):
        u=2*math.pi*(i%major)/major; w=2*math.pi*(j%minor)/minor
        ring=R+r*math.cos(w)
        return (ring*math.cos(u)+off[0], ring*math.sin(u)+off[1], r*math.sin(w)+off[2])
    t=[]
    for i in range(major):
        for j in range(minor):
            a,b,c,d=at(i,j),at(i+1,j),at(i+1,j+1),at(i,j+1)
            t.append((a,b,c)); t.append((a,c,d))
    return t
def icosphere(level, rad, rng):
    p=(1+5**.5)/2
    V=[(-1,p,0),(1,p,0),(-1,-p,0),(1,-p,0),(0,-1,p),(0,1,p),(0,-1,-p),(0,1,-p),(p,0,-1),(p,0,1),(-p,0,-1),(-p,0,1)]
    F=[(0,11,5),(0,5,1),(0,1,7),(0,7,10),(0,10,11),(1,5,9),(5,11,4),(11,10,2),(10,7,6),(7,1,8),(3,9,4),(3,4,2),(3,2,6),(3,6,8),(3,8,9),(4,9,5),(2,4,11),(6,2,10),(8,6,7),(9,8,1)]
    V=[list(v) for v in V]
    for _ in range(level):
        mid={}; NF=[]
        def m(a,b):
            k=(min(a,b),max(a,b))
            if k not in mid:
                t=rng.uniform(.2,.8); A,B=V[a],V[b]
                V.append([A[i]+(B[i]-A[i])*t for i in range(3)]); mid[k]=len(V)-1
            return mid[k]
        for a,b,c in F:
            x,y,z=m(a,b),m(b,c),m(c,a); NF+= [(a,x,z),(x,b,y),(z,y,c),(x,y,z)]
        F=NF
    P=[]
    for v in V:
        l=math.sqrt(sum(q*q for q in v)); s=rad*rng.uniform(.98,1.02)/l
        P.append(tuple(q*s for q in v))
    return [(P[a],P[b],P[c]) for a,b,c in F]
def box(x0,y0,z0,x1,y1,z1, openTop=False):
    c=[(x0,y0,z0),(x1,y0,z0),(x1,y1,z0),(x0,y1,z0),(x0,y0,z1),(x1,y0,z1),(x1,y1,z1),(x0,y1,z1)]
    f=[(0,2,1),(0,3,2),(4,5,6),(4,6,7),(0,1,5),(0,5,4),(1,2,6),(1,6,5),(2,3,7),(2,7,6),(3,0,4),(3,4,7)]
    if openTop: f=[q for i,q in enumerate(f) if i not in (2,3)]
    return [(c[a],c[b],c[d]) for a,b,d in f]
rng=random.Random(7)
T1=torus(1000,500); wbin("t1m.stl",T1)
s=list(T1); random.Random(5).shuffle(s); wbin("t1m_shuf.stl",s)
wbin("t5m.stl",torus(2500,1000))
sph=icosphere(6,40,random.Random(3)); wbin("sphere.stl",sph)
wbin("sphere_tiny.stl",[tuple(tuple(q*0.00025 for q in p) for p in t) for t in sph])
wbin("openbox.stl",box(0,0,0,10,20,5,True))
d=torus(200,100); d=d+d[:5000]+[d[10]]*3; random.Random(2).shuffle(d); wbin("dups.stl",d)
g=torus(100,60); 
for i in range(0,len(g),7): a,b,c=g[i]; g.insert(i,(a,a,b)); 
g.append(((0,0,0),(1,1,1),(2,2,2))); g.append(((0,0,0),(1,0,0),(1,0,0.0000001))); wbin("degen.stl",g)
sh=[]
for k in range(6): sh+=icosphere(3,5,random.Random(k)); sh=[tuple(tuple((q[0]+k*12,q[1],q[2])) for q in t) if i>=len(sh)-1280 else t for i,t in enumerate(sh)]
sh+=box(-20,-20,-20,-10,-10,-10)+box(-15,-15,-15,-5,-5,-5); wbin("shells.stl",sh)
wasc("ascii_sphere.stl",icosphere(4,10,random.Random(9)))
wasc("ascii_boxes.stl",box(0,0,0,1,1,1)+box(1,0,0,2,1,1)+box(0,0,1,1,1,2,True))
nm=box(0,0,0,1,1,1)+box(1,0,0,2,1,1)+box(1,1,0,2,2,1)+[((0,0,0),(1,0,0),(0.5,-1,0.5))]; wbin("nonmanifold.stl",nm)
flat=[]
for i in range(300):
    for j in range(300):
        a,b,c,dd=(i,j,0),(i+1,j,0),(i+1,j+1,0),(i,j+1,0); flat+=[(a,b,c),(a,c,dd)]
wbin("flatgrid.stl",flat)
wbin("sphere_big.stl",[tuple(tuple(q*1000 for q in p) for p in t) for t in icosphere(7,40,random.Random(11))])
soup=[tuple(tuple(rng.choice([0.0,-0.0,1.0,rng.uniform(-5,5)]) for _ in range(3)) for _ in range(3)) for _ in range(20000)]; wbin("soup.stl",soup)
